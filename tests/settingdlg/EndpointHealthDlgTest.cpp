// The endpoint's health-check options as the settings dialog's sub-dialog shows and
// returns them.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QSpinBox>

#include "ui/EndpointHealthDlg.h"

namespace {

TEST(EndpointHealthDlg, ShowsTheOptionsAndReturnsWhatWasChanged) {
  qb::EndpointOptions given;
  given.listen = "127.0.0.1:9000";
  given.tolerance = 200;
  given.closeTunnels = false;
  qb::CEndpointHealthDlg dlg(given);
  auto* tolerance = dlg.findChild<QSpinBox*>("Tolerance");
  auto* interval = dlg.findChild<QSpinBox*>("CheckInterval");
  auto* setAside = dlg.findChild<QSpinBox*>("SetAside");
  auto* setAsideMax = dlg.findChild<QSpinBox*>("SetAsideMax");
  auto* checks = dlg.findChild<QCheckBox*>("HealthChecks");
  auto* close = dlg.findChild<QCheckBox*>("CloseTunnels");
  ASSERT_TRUE(tolerance && interval && setAside && setAsideMax && checks && close);
  EXPECT_EQ(tolerance->value(), 200);
  EXPECT_FALSE(close->isChecked());
  // Unchanged, it gives back what it was given, the fields it does not show included.
  EXPECT_EQ(dlg.Chosen(), given);

  interval->setValue(45);
  setAside->setValue(600);
  setAsideMax->setValue(60);  // below the first time: the ceiling follows it
  close->setChecked(true);
  checks->setChecked(false);
  EXPECT_FALSE(interval->isEnabled());
  const qb::EndpointOptions chosen = dlg.Chosen();
  EXPECT_EQ(chosen.listen, "127.0.0.1:9000");
  EXPECT_EQ(chosen.checkInterval, 45);
  EXPECT_EQ(chosen.setAside, 600);
  EXPECT_EQ(chosen.setAsideMax, 600);
  EXPECT_TRUE(chosen.closeTunnels);
  EXPECT_FALSE(chosen.healthChecks);
  // Out of range is not taken.
  tolerance->setValue(qb::kMaxTolerance + 1);
  EXPECT_EQ(dlg.Chosen().tolerance, qb::kMaxTolerance);
}

}  // namespace
