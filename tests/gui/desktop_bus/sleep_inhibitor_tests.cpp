// SPDX-License-Identifier: GPL-3.0-or-later
// The sleep inhibitor against a fake desktop portal on the private session bus and a fake
// logind on the private system bus: what it asks for, that it holds exactly one inhibitor
// while playing, and that none is left behind whatever the order of events.
#include "bus_rig.h"
#include "sleep_inhibitor.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using bus_rig::wait_for;

TEST(SleepInhibitor, PortalInhibitsSuspendWhilePlayingAndReleasesOnStop) {
  bus_rig::fake_portal portal;
  bus_rig::fake_logind logind;
  murmelin::sleep_inhibitor inhibitor;

  inhibitor.set_active(true);
  ASSERT_TRUE(wait_for([&] { return inhibitor.holding(); }));
  ASSERT_EQ(portal.calls.size(), 1u);
  EXPECT_EQ(portal.calls[0].flags, 4u) << "suspend only: never the idle flag that keeps the "
                                          "screen on";
  EXPECT_EQ(portal.calls[0].options.value("reason").toString(), "Playing pink noise");
  EXPECT_EQ(portal.active(), 1);
  EXPECT_TRUE(logind.calls.empty()) << "logind is only the fallback";

  inhibitor.set_active(true);  // the state again: nothing new
  inhibitor.set_active(false);
  EXPECT_FALSE(inhibitor.holding());
  ASSERT_TRUE(wait_for([&] { return portal.closed.size() == 1; }));
  EXPECT_EQ(portal.closed[0], portal.granted[0]);
  EXPECT_EQ(portal.active(), 0);
  EXPECT_EQ(portal.calls.size(), 1u);
  EXPECT_EQ(portal.bad_closes, 0);
}

TEST(SleepInhibitor, RapidPlayStopPlayLeavesExactlyOneInhibitor) {
  bus_rig::fake_portal portal;
  murmelin::sleep_inhibitor inhibitor;

  // All before the bus answers: one call covers them.
  inhibitor.set_active(true);
  inhibitor.set_active(false);
  inhibitor.set_active(true);
  ASSERT_TRUE(wait_for([&] { return inhibitor.holding(); }));
  EXPECT_EQ(portal.calls.size(), 1u);
  EXPECT_EQ(portal.active(), 1);

  // Once granted: stop releases it, play takes a new one.
  inhibitor.set_active(false);
  inhibitor.set_active(true);
  ASSERT_TRUE(wait_for([&] { return portal.granted.size() == 2 && inhibitor.holding(); }));
  EXPECT_EQ(portal.closed, std::vector<QString>{portal.granted[0]});
  EXPECT_EQ(portal.active(), 1);

  // And with the answer held back while the calls come in.
  inhibitor.set_active(false);
  portal.hold_answers = true;
  inhibitor.set_active(true);
  ASSERT_TRUE(wait_for([&] { return portal.held.size() == 1; }));
  inhibitor.set_active(false);
  inhibitor.set_active(true);
  portal.answer_held();
  ASSERT_TRUE(wait_for([&] { return inhibitor.holding(); }));
  EXPECT_EQ(portal.calls.size(), 3u);
  EXPECT_EQ(portal.active(), 1);

  inhibitor.set_active(false);
  ASSERT_TRUE(wait_for([&] { return portal.active() == 0; }));
  EXPECT_EQ(portal.bad_closes, 0);
}

TEST(SleepInhibitor, StopWhileTheCallIsPendingReleasesAsSoonAsItIsGranted) {
  bus_rig::fake_portal portal;
  portal.hold_answers = true;
  {
    murmelin::sleep_inhibitor inhibitor;
    inhibitor.set_active(true);
    ASSERT_TRUE(wait_for([&] { return portal.held.size() == 1; }));
    inhibitor.set_active(false);
    portal.answer_held();
    ASSERT_TRUE(wait_for([&] { return portal.closed.size() == 1; }));
    EXPECT_FALSE(inhibitor.holding());
    EXPECT_EQ(portal.active(), 0);

    // Destroyed while its call is pending: the late grant is released all the same.
    auto gone = std::make_unique<murmelin::sleep_inhibitor>();
    gone->set_active(true);
    ASSERT_TRUE(wait_for([&] { return portal.held.size() == 1; }));
    gone.reset();
    portal.answer_held();
    ASSERT_TRUE(wait_for([&] { return portal.closed.size() == 2; }));
    EXPECT_EQ(portal.active(), 0);

    // Destroyed while holding: released at once.
    portal.hold_answers = false;
    inhibitor.set_active(true);
    ASSERT_TRUE(wait_for([&] { return inhibitor.holding(); }));
  }
  ASSERT_TRUE(wait_for([&] { return portal.closed.size() == 3; }));
  EXPECT_EQ(portal.active(), 0);
  EXPECT_EQ(portal.bad_closes, 0);
}

TEST(SleepInhibitor, WithoutAPortalLogindHoldsItAsADescriptor) {
  bus_rig::fake_logind logind;
  {
    murmelin::sleep_inhibitor inhibitor;
    inhibitor.set_active(true);
    ASSERT_TRUE(wait_for([&] { return inhibitor.holding(); }));
    ASSERT_EQ(logind.calls.size(), 1u);
    EXPECT_EQ(logind.calls[0],
              (QStringList{"sleep", "Murmelin", "Playing pink noise", "block"}));
    EXPECT_EQ(logind.active(), 1);

    inhibitor.set_active(false);
    EXPECT_FALSE(inhibitor.holding());
    ASSERT_TRUE(wait_for([&] { return logind.active() == 0; }));

    // Stop while logind has not answered yet.
    logind.hold_answers = true;
    inhibitor.set_active(true);
    ASSERT_TRUE(wait_for([&] { return logind.held.size() == 1; }));
    inhibitor.set_active(false);
    logind.answer_held();
    ASSERT_TRUE(wait_for([&] { return logind.granted() == 2 && logind.active() == 0; }));
    EXPECT_FALSE(inhibitor.holding());

    logind.hold_answers = false;
    inhibitor.set_active(true);
    ASSERT_TRUE(wait_for([&] { return inhibitor.holding(); }));
    EXPECT_EQ(logind.active(), 1);
  }
  ASSERT_TRUE(wait_for([&] { return logind.active() == 0; })) << "released with the inhibitor";
  EXPECT_EQ(logind.calls.size(), 3u);
}

TEST(SleepInhibitor, APortalThatRefusesLeavesItToLogind) {
  // Refused as a portal refuses (Response 2), with an error, or never answered at all.
  struct refusal {
    const char* error;
    int response;
  };
  for (const refusal r : {refusal{"", 2}, refusal{"org.freedesktop.DBus.Error.AccessDenied", 0},
                          refusal{"", -1}}) {
    SCOPED_TRACE(r.response);
    bus_rig::fake_portal portal;
    portal.refuse_with = r.error;
    portal.response = r.response;
    bus_rig::fake_logind logind;
    murmelin::sleep_inhibitor inhibitor;

    inhibitor.set_active(true);
    ASSERT_TRUE(wait_for([&] { return inhibitor.holding(); }));
    EXPECT_EQ(portal.calls.size(), 1u);
    EXPECT_EQ(logind.calls.size(), 1u);
    EXPECT_EQ(logind.active(), 1);
    EXPECT_EQ(portal.active(), 0);
    // Only the request that never answered is closed; an answered one is gone already.
    ASSERT_TRUE(wait_for([&] { return portal.closed.size() == (r.response < 0 ? 1u : 0u); }));
    EXPECT_EQ(portal.bad_closes, 0);

    // Stopped while the portal's refusal is on its way: logind is not asked at all.
    inhibitor.set_active(false);
    ASSERT_TRUE(wait_for([&] { return logind.active() == 0; }));
    portal.hold_answers = true;
    inhibitor.set_active(true);
    ASSERT_TRUE(wait_for([&] { return portal.held.size() == 1; }));
    inhibitor.set_active(false);
    portal.answer_held();
    ASSERT_TRUE(wait_for([&] { return !inhibitor.asking(); }));
    EXPECT_EQ(logind.calls.size(), 1u);
    EXPECT_FALSE(inhibitor.holding());
  }
}

TEST(SleepInhibitor, WhenNobodyGrantsItNothingIsHeldAndTheNextPlayAsksAgain) {
  bus_rig::fake_logind logind;
  logind.refuse_with = "org.freedesktop.DBus.Error.AccessDenied";
  murmelin::sleep_inhibitor inhibitor;

  inhibitor.set_active(true);
  ASSERT_TRUE(wait_for([&] { return !inhibitor.asking(); }));
  EXPECT_EQ(logind.calls.size(), 1u);
  EXPECT_FALSE(inhibitor.holding());
  // Still playing: no new call by itself (no retry loop against a refusing service).
  inhibitor.set_active(true);
  EXPECT_FALSE(inhibitor.asking());

  // Permission granted again: the next play holds one.
  logind.refuse_with.clear();
  inhibitor.set_active(false);
  inhibitor.set_active(true);
  ASSERT_TRUE(wait_for([&] { return inhibitor.holding(); }));
  EXPECT_EQ(logind.active(), 1);
}

}  // namespace
