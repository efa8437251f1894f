// Small helpers of the information dialog tests.
#pragma once

#include <QComboBox>
#include <QFile>
#include <QString>
#include <QStringList>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/report_list.h"
#include "tests/dialogs/harness/agent_link.h"
#include "tests/dialogs/harness/screenshots.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace info_test {

// The requests the link sent, as "GET 4", "SET 4,4", ...
inline std::vector<std::string> Sent(const trem_harness::AgentLink& link) {
  std::vector<std::string> out;
  for (const auto& m : link.Sent()) out.push_back(trem_harness::DescribeMessage(m));
  return out;
}

// Rows of a report list, each as "label|value".
inline std::vector<std::string> Rows(const ReportList* list) {
  std::vector<std::string> out;
  for (const QStringList& row : list->Rows()) out.push_back(row.join('|').toStdString());
  return out;
}

// The texts of a combo box's items, in order.
inline QStringList Items(const QComboBox* box) {
  QStringList out;
  for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
  return out;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Copies a file the dialog wrote next to the topic's screenshots.
inline void KeepBesideScreenshots(const std::string& path, const QString& topic, const QString& name) {
  const QString target = trem_harness::ScreenshotDir(topic) + "/" + name;
  QFile::remove(target);
  QFile::copy(QString::fromStdString(path), target);
}

// The fixture of the information dialog tests: screenshots under "information", the console's
// image of the blocks these dialogs show emptied first, communication mode 0.
class InfoTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("information"); }
  void SetUp() override {
    trem_harness::TremTest::SetUp();
    gnCommMode = 0;
    // The link then sends in the order the dialog queued.
    gScp.requestTable.ResetCursor();
    auto lock = gScp.Lock();
    gScp.upsInfo.Reset();
    gScp.config.SetDefaults();
    gScp.config.Ports().Clear();
    gScp.notify.Reset();
    gScp.alarmQueue.Clear();
    gScp.receptacles.Reset();
    gScp.batteryInfo.Reset();
    gScp.batteryLog.Clear();
  }
  void TearDown() override {
    gnCommMode = 0;
    trem_harness::TremTest::TearDown();
  }
  // Marks the agent's blocks fresh, opens a dialog and pumps until it stops waiting.
  template <class D, class... Args>
  D* OpenIdle(Args&&... args) {
    agent.MarkAllFresh();
    auto* d = new D(std::forward<Args>(args)...);
    EXPECT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
    link.PumpIdle();
    return d;
  }
};

}  // namespace info_test
