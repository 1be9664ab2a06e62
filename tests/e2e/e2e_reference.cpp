// SPDX-License-Identifier: GPL-3.0-or-later
#include "e2e_reference.h"

#include "spinknoise.h"

namespace murmelin::e2e {

double pink_bank_response_db(double freq, double play_rate) {
  static const tpinknoise bank = [] {
    tpinknoise p;
    p.build_filter_bank(44100);
    return p;
  }();
  return bank.response_db(freq, play_rate);
}

}  // namespace murmelin::e2e
