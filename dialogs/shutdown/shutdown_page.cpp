#include "dialogs/shutdown/shutdown_page.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <array>

#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/shutdown/shutdown_clients_page.h"
#include "dialogs/shutdown/shutdown_dlg.h"
#include "dialogs/shutdown/shutdown_load_page.h"
#include "dialogs/shutdown/shutdown_programs_page.h"
#include "dialogs/shutdown/shutdown_ups_page.h"

namespace {
std::array<ShutdownPage*, 4>& Pages() {
  static std::array<ShutdownPage*, 4> pages{};
  return pages;
}
ShutdownPage*& Cell(ShutdownPageId id) {
  return Pages()[static_cast<size_t>(id)];
}
}  // namespace

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

void ShutdownPage::OnOK() {
  if (!Validate() || !Apply()) return;
  RepaintTimeLine();
  KTDialog::OnOK();
}

bool ShutdownPage::GoTo(ShutdownPageId target) {
  if (!Validate() || !Apply()) return false;
  RepaintTimeLine();
  if (ShutdownPage* open = OpenPage(target)) {
    open->raise();
    open->activateWindow();
    return false;
  }
  CreatePage(target, parentWidget(), HostName());
  return true;
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
