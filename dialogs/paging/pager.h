// CPager: "Configure Pager". Action 5, a page the agent sends, for the selected events: which
// of the pager recipients are paged, the message, the delay before it goes and the retries.
// Test... sends the page from this computer to each selected recipient, one after the other,
// through the page link on a worker thread behind a progress window whose Cancel stops it.
#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <string>

#include "core/mail_paging/page_link.h"
#include "dialogs/notification/action_dialog.h"

class QComboBox;
class QLineEdit;
class QListWidget;

class CPager : public ActionDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3021;
  static constexpr int kHelpContext = 16;
  static constexpr int IDC_MESSAGE = 1199;
  static constexpr int IDC_DELAY_MINUTES = 1146;
  static constexpr int IDC_DELAY_SECONDS = 1202;
  static constexpr int IDC_RETRIES = 1251;
  static constexpr int IDC_RETRY_SECONDS = 1253;
  static constexpr int IDC_PAGER_CONFIG = 1254;
  static constexpr int IDC_RECIPIENTS = 1706;
  static constexpr int IDC_TEST = 1727;

  // One page of the test: what the worker thread runs (the page link by default). The flag
  // is raised when the user cancels.
  using PageSender =
      std::function<int(const KT_PageCall& call, const std::atomic<bool>& stop, std::string* text)>;

  explicit CPager(QWidget* parent = nullptr, const QString& hostName = QString());
  CPager(QWidget* parent, const QString& selectionLabel, const QString& hostName,
         const QStringList& hostNames);
  ~CPager() override;

  bool OnInitDialog() override;
  void OnOK() override;
  void GetCurrentConfig();
  // Checks the fields (numeric pagers included) and stores the records; false after the
  // message of the first rule broken.
  bool VerifyData();
  void OnPagerConfig();
  void OnTest();

  // The message of a page link result (empty for success).
  static QString ResultMessage(int result, const QString& errorText);
  // Replaces the page link (tests); an empty function restores it.
  static void SetPageSender(PageSender sender);

  QListWidget* Recipients() const { return recipients_; }
  QLineEdit* Message() const { return message_; }
  QComboBox* DelayMinutes() const { return delay_minutes_; }
  QComboBox* DelaySeconds() const { return delay_seconds_; }
  QComboBox* Retries() const { return retries_; }
  QComboBox* RetrySeconds() const { return retry_seconds_; }

 private:
  void Init();
  void BuildControls();
  uint8_t SelectedMask() const;
  // True when the message suits every selected recipient without the alphanumeric protocol.
  bool NumericCheck() const;
  // One page on a worker thread behind the progress window; the link's result.
  int RunPage(const KT_PageCall& call, std::string* text);

  QListWidget* recipients_ = nullptr;
  QLineEdit* message_ = nullptr;
  QComboBox* delay_minutes_ = nullptr;
  QComboBox* delay_seconds_ = nullptr;
  QComboBox* retries_ = nullptr;
  QComboBox* retry_seconds_ = nullptr;
};

extern DialogPointer<CPager> pPager;
