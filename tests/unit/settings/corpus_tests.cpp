// SPDX-License-Identifier: GPL-3.0-or-later
// Replays the fuzzing corpus (valid, broken and once-crashing files) through the same round as
// the fuzz target: load, read every node every way, save, reload, save again.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "qobfile_fuzz_one.h"

TEST(QOBCorpus, EveryCorpusFileSurvivesTheRoundTrip) {
  const QDir dir(SETTINGS_CORPUS_DIR);
  const QStringList files = dir.entryList(QDir::Files, QDir::Name);
  ASSERT_GE(files.size(), 10) << "corpus missing at " << SETTINGS_CORPUS_DIR;
  for (const QString& name : files) {
    SCOPED_TRACE(name.toStdString());
    QFile f(dir.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    murmelin::qobfile_fuzz_one(reinterpret_cast<const uint8_t*>(bytes.constData()),
                               static_cast<std::size_t>(bytes.size()));
  }
}
