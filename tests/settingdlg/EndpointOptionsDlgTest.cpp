// The endpoint's further options as the settings dialog's sub-dialog shows and returns
// them: health checks, stickiness and the control API.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QSpinBox>

#include "support/ScriptedPrompt.h"
#include "ui/EndpointOptionsDlg.h"

namespace {

TEST(EndpointOptionsDlg, ShowsTheOptionsAndReturnsWhatWasChanged) {
  qb::EndpointOptions given;
  given.listen = "127.0.0.1:9000";
  given.tolerance = 200;
  given.closeTunnels = false;
  given.stickyLease = 90;
  const qb::ApiOptions api{"127.0.0.1:8900", "secret"};
  qb::CEndpointOptionsDlg dlg(given, api);
  auto* tolerance = dlg.findChild<QSpinBox*>("Tolerance");
  auto* interval = dlg.findChild<QSpinBox*>("CheckInterval");
  auto* setAside = dlg.findChild<QSpinBox*>("SetAside");
  auto* setAsideMax = dlg.findChild<QSpinBox*>("SetAsideMax");
  auto* checks = dlg.findChild<QCheckBox*>("HealthChecks");
  auto* close = dlg.findChild<QCheckBox*>("CloseTunnels");
  auto* keep = dlg.findChild<QCheckBox*>("KeepTargets");
  auto* lease = dlg.findChild<QSpinBox*>("StickyLease");
  auto* listen = dlg.findChild<QLineEdit*>("ApiListen");
  auto* token = dlg.findChild<QLineEdit*>("ApiToken");
  ASSERT_TRUE(tolerance && interval && setAside && setAsideMax && checks && close && keep && lease &&
              listen && token);
  EXPECT_EQ(tolerance->value(), 200);
  EXPECT_FALSE(close->isChecked());
  EXPECT_EQ(lease->value(), 90);
  EXPECT_EQ(listen->text(), "127.0.0.1:8900");
  // Unchanged, it gives back what it was given, the fields it does not show included.
  EXPECT_EQ(dlg.Chosen(), given);
  EXPECT_EQ(dlg.ChosenApi(), api);

  interval->setValue(45);
  setAside->setValue(600);
  setAsideMax->setValue(60);  // below the first time: the ceiling follows it
  close->setChecked(true);
  checks->setChecked(false);
  keep->setChecked(true);
  lease->setValue(30);
  listen->setText("  [::1]:8901 ");
  token->clear();
  EXPECT_FALSE(interval->isEnabled());
  const qb::EndpointOptions chosen = dlg.Chosen();
  EXPECT_EQ(chosen.listen, "127.0.0.1:9000");
  EXPECT_EQ(chosen.checkInterval, 45);
  EXPECT_EQ(chosen.setAside, 600);
  EXPECT_EQ(chosen.setAsideMax, 600);
  EXPECT_TRUE(chosen.closeTunnels);
  EXPECT_FALSE(chosen.healthChecks);
  EXPECT_TRUE(chosen.keepTargets);
  EXPECT_EQ(chosen.stickyLease, 30);
  EXPECT_EQ(dlg.ChosenApi(), (qb::ApiOptions{"[::1]:8901", ""}));
  // Out of range is not taken.
  tolerance->setValue(qb::kMaxTolerance + 1);
  EXPECT_EQ(dlg.Chosen().tolerance, qb::kMaxTolerance);
  lease->setValue(0);
  EXPECT_EQ(dlg.Chosen().stickyLease, 1);
}

// The window's API listens on loopback only: OK refuses any other address, says why and
// stays open; an empty one (the API off) and a loopback one are taken.
TEST(EndpointOptionsDlg, OkRefusesAnApiAddressBeyondLoopbackAndATokenNoHeaderCarries) {
  qbtest::ScriptedPrompt prompt;
  for (const auto& [text, taken] :
       std::initializer_list<std::pair<const char*, bool>>{{"0.0.0.0:8900", false},
                                                           {"192.0.2.1:8900", false},
                                                           {"127.0.0.1", false},
                                                           {"not an address", false},
                                                           {"", true},
                                                           {"127.0.0.2:8900", true},
                                                           {"[::1]:8900", true}}) {
    SCOPED_TRACE(text);
    qb::CEndpointOptionsDlg dlg({}, {});
    dlg.findChild<QLineEdit*>("ApiListen")->setText(text);
    prompt.messages.clear();
    dlg.accept();
    EXPECT_EQ(dlg.result() == QDialog::Accepted, taken);
    ASSERT_EQ(prompt.messages.size(), taken ? 0u : 1u);
    if (!taken) {
      EXPECT_EQ(prompt.messages[0].text, qb::kMsgApiNotLoopback);
    }
  }
  // A token that a header could not carry, or that would end its line in Options.ini
  // and start another, is refused too.
  for (const auto& [token, taken] :
       std::initializer_list<std::pair<const char*, bool>>{{"a b", false},
                                                           {"tok\n[Endpoint]\nListen=0.0.0.0:8899", false},
                                                           {"tab\there", false},
                                                           {"", true},
                                                           {"s3cr3t-_.~", true}}) {
    SCOPED_TRACE(token);
    qb::CEndpointOptionsDlg dlg({}, {"127.0.0.1:8900", ""});
    // setText keeps what the user could paste; only OK judges it.
    dlg.findChild<QLineEdit*>("ApiToken")->setText(QString::fromUtf8(token));
    prompt.messages.clear();
    dlg.accept();
    EXPECT_EQ(dlg.result() == QDialog::Accepted, taken);
    ASSERT_EQ(prompt.messages.size(), taken ? 0u : 1u);
    if (!taken) {
      EXPECT_EQ(prompt.messages[0].text, qb::kMsgApiTokenBad);
    }
  }
}

}  // namespace
