#include "dialogs/shutdown/shutdown_page.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <array>

#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/shutdown/shutdown_clients_page.h"
#include "dialogs/shutdown/shutdown_dlg.h"
#include "dialogs/shutdown/shutdown_load_page.h"
#include "dialogs/shutdown/shutdown_programs_page.h"
#include "dialogs/shutdown/shutdown_ups_page.h"

namespace {
constexpr uint16_t kUnset = 0xFFFF;
constexpr int kSmartUpsTimes[] = {3, 5, 10};

// "2 minutes", "1 minute", "90 seconds" ("1 minute 30 seconds" reads worse in a short line).
QString HeldText(int seconds) {
  if (seconds % 60 != 0) return QStringLiteral("%1 seconds").arg(seconds);
  const int minutes = seconds / 60;
  return minutes == 1 ? QStringLiteral("1 minute") : QStringLiteral("%1 minutes").arg(minutes);
}

std::array<ShutdownPage*, 4>& Pages() {
  static std::array<ShutdownPage*, 4> pages{};
  return pages;
}
ShutdownPage*& Cell(ShutdownPageId id) {
  return Pages()[static_cast<size_t>(id)];
}
}  // namespace

OsTimeRule OsTimeRule::Of(UpsInfoBlock& info) {
  OsTimeRule rule;
  const int model = info.GetModelIndex();
  rule.smartUps = model == 8 || model == 9;
  rule.maxMinutes = info.IsFunctionSupported(3, 3) == 1 ? 479 : 4;
  return rule;
}

OsTimeRule OsTimeRule::Current() {
  auto lock = gScp.Lock();
  return Of(gScp.upsInfo);
}

bool OsTimeRule::Accepts(int minutes) const {
  if (smartUps)
    return std::find(std::begin(kSmartUpsTimes), std::end(kSmartUpsTimes), minutes) !=
           std::end(kSmartUpsTimes);
  return minutes >= 1 && minutes <= maxMinutes;
}

int OsTimeRule::Shown(uint16_t seconds) const {
  if (seconds == kUnset) return smartUps ? 3 : 2;
  const int minutes = (seconds + 59) / 60;
  if (smartUps) {
    for (int t : kSmartUpsTimes)
      if (minutes <= t) return t;
    return kSmartUpsTimes[2];
  }
  return std::clamp(minutes, 1, maxMinutes);
}

QString OsTimeRule::Range() const {
  return smartUps ? QStringLiteral("3, 5 or 10 minutes") : QStringLiteral("1 to %1 minutes").arg(maxMinutes);
}

ShutdownPage::ShutdownPage(ShutdownPageId id, int templateId, QWidget* parent, const QString& hostName)
    : KTDialog(templateId, parent, hostName), id_(id) {
  Cell(id) = this;
  SetWaitCount(0);
}

ShutdownPage::~ShutdownPage() {
  if (Cell(id_) == this) Cell(id_) = nullptr;
}

ShutdownPage* ShutdownPage::OpenPage(ShutdownPageId id) {
  ShutdownPage* page = Cell(id);
  return DialogIsOpen(page) ? page : nullptr;
}

ShutdownPage* ShutdownPage::CreatePage(ShutdownPageId id, QWidget* parent, const QString& hostName) {
  if (DialogIsOpen(pShutdownDlg.get())) parent = pShutdownDlg.get();
  switch (id) {
    case ShutdownPageId::Ups:
      return new ShutdownUpsPage(parent, hostName);
    case ShutdownPageId::Programs:
      return new ShutdownProgramsPage(parent, hostName);
    case ShutdownPageId::LoadSegment:
      return new ShutdownLoadSegmentPage(parent, hostName);
    case ShutdownPageId::Clients:
      return new ShutdownClientsPage(parent, hostName);
  }
  return nullptr;
}

void ShutdownPage::ForgetPages() {
  Pages().fill(nullptr);
}

bool ShutdownPage::OffersLoadSegments() {
  auto lock = gScp.Lock();
  return gScp.upsInfo.IsFunctionSupported(3, 7) == 1;
}

bool ShutdownPage::OffersClients() {
  auto lock = gScp.Lock();
  return gScp.upsInfo.IsFunctionSupported(2, 1) == 1;
}

void ShutdownPage::RepaintTimeLine() {
  if (DialogIsOpen(pShutdownDlg.get())) pShutdownDlg->Redraw();
}

void ShutdownPage::Refuse(const QString& text) {
  TremMessageBox(this, text, MB_OK | MB_ICONERROR);
}

bool ShutdownPage::Validate() {
  const QString refusal = Check();
  if (refusal.isEmpty()) return true;
  Refuse(refusal);
  return false;
}

void ShutdownPage::OnOK() {
  if (!Validate() || !Apply()) return;
  RepaintTimeLine();
  KTDialog::OnOK();
}

bool ShutdownPage::GoTo(ShutdownPageId target) {
  if (!Validate() || !Apply()) return false;
  RepaintTimeLine();
  return ShowPage(target);
}

bool ShutdownPage::GoBack(ShutdownPageId target) {
  if (Check().isEmpty() && Apply()) {
    RepaintTimeLine();
    return ShowPage(target);
  }
  // Nothing of this page is applied; it keeps what was entered, behind the page before it.
  ShowPage(target);
  return false;
}

bool ShutdownPage::ShowPage(ShutdownPageId target) {
  if (ShutdownPage* open = OpenPage(target)) {
    open->raise();
    open->activateWindow();
    return false;
  }
  CreatePage(target, parentWidget(), HostName());
  return true;
}

QWidget* ShutdownPage::MakeFitNote() {
  auto* note = new QWidget(this);
  note->setObjectName(ControlName(IDC_PAGE_NOTE));
  auto* row = new QHBoxLayout(note);
  // Apart from the buttons below it.
  row->setContentsMargins(0, 0, 0, style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing, nullptr, this) + 4);
  auto* icon = new QLabel(note);
  const int side = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this).pixmap(side, side));
  auto* text = new QLabel(note);
  text->setWordWrap(true);
  text->setTextFormat(Qt::RichText);
  text->setTextInteractionFlags(Qt::NoTextInteraction);
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addWidget(text, 1);
  note->hide();
  note_ = note;
  note_text_ = text;
  return note;
}

void ShutdownPage::ShowFitNote(const QStringList& lines) {
  if (note_ == nullptr) return;
  fit_note_ = lines;
  if (lines.isEmpty()) {
    note_text_->clear();
    note_->hide();
  } else {
    // One item per value, its lines indented under its bullet.
    QString html = QStringLiteral(
        "Changed to fit this UPS; OK sets the values shown:"
        "<ul style=\"margin-top:2px; margin-left:0px; -qt-list-indent:1;\">");
    for (const QString& line : lines)
      html += QStringLiteral("<li>") + line.toHtmlEscaped() + QStringLiteral("</li>");
    note_text_->setText(html + QStringLiteral("</ul>"));
    note_->show();
  }
  if (layout() != nullptr) layout()->activate();
  adjustSize();
}

QString ShutdownPage::FitLine(const QString& what, int shownMinutes, int heldSeconds, const QString& why) {
  return QStringLiteral("%1: %2, was %3; %4.")
      .arg(what, HeldText(shownMinutes * 60), HeldText(heldSeconds), why);
}

QHBoxLayout* ShutdownPage::MakePageButtons(bool next, bool back) {
  auto* row = new QHBoxLayout;
  // Made in the order they stand, left to right, which is the order the Tab key takes.
  QPushButton* ok = MakeButton(IDOK, QStringLiteral("OK"));
  QPushButton* cancel = MakeButton(IDCANCEL, QStringLiteral("Cancel"));
  QPushButton* backButton = nullptr;
  if (back) {
    backButton = MakeButton(IDC_PAGE_BACK, QStringLiteral("<<< &Back"));
    backButton->setAutoDefault(false);
    connect(backButton, &QPushButton::clicked, this, [this] { OnBack(); });
  }
  QPushButton* nextButton = nullptr;
  if (next) {
    nextButton = MakeButton(IDC_PAGE_NEXT, QStringLiteral("&Next >>>"));
    nextButton->setAutoDefault(false);
    connect(nextButton, &QPushButton::clicked, this, [this] {
      UpdateNextButton();
      if (next_button_ != nullptr && next_button_->isEnabled()) OnNext();
    });
    next_button_ = nextButton;
    SetTimer(kNextTimerId, kNextCheckMs);
  }
  QPushButton* help = MakeButton(ID_HELP, QStringLiteral("Help"));
  if (next) {
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    if (backButton != nullptr) row->addWidget(backButton);
    row->addWidget(nextButton);
    row->addWidget(help);
  } else {
    // Centred: OK and Cancel end left of the centre, Back and Help start right of it.
    row->addStretch(1);
    row->addWidget(ok);
    row->addSpacing(20);
    row->addWidget(cancel);
    row->addSpacing(20);
    if (backButton != nullptr) {
      row->addWidget(backButton);
      row->addSpacing(20);
    }
    row->addWidget(help);
    row->addStretch(1);
  }
  return row;
}

void ShutdownPage::UpdateNextButton() {
  if (next_button_ != nullptr) next_button_->setEnabled(NextPage().has_value());
}

void ShutdownPage::OnTimer(int timerId) {
  if (timerId == kNextTimerId) {
    UpdateNextButton();
    return;
  }
  KTDialog::OnTimer(timerId);
}

bool ShutdownPage::event(QEvent* e) {
  if (e->type() == QEvent::Show || e->type() == QEvent::WindowActivate) UpdateNextButton();
  return KTDialog::event(e);
}
