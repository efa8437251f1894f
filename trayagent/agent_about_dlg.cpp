#include "trayagent/agent_about_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/base/setup_data.h"
#include "trayagent/agent_pictures.h"
#include "trayagent/agent_strings.h"

bool AgentIsActive(int interfaceType) { return interfaceType >= 1 && interfaceType <= 3; }

CAgentAboutDlg::CAgentAboutDlg(int interfaceType, QWidget* parent) : QDialog(parent) {
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  const SetupData setup;
  name_text_ = QString::fromStdString(setup.GetApplicationTypeName(6) + " " + setup.GetApplicationTypeName(8));
  const std::string version = setup.GetAgentVersionText();
  if (!version.empty()) version_text_ = QString::fromStdString("Version: " + version);
  state_text_ = AgentIsActive(interfaceType) ? "Agent is active" : "Agent is idle";
  setWindowTitle("About " + name_text_);

  auto* icon = new QLabel(this);
  icon->setPixmap(AgentPixmap(kIconRunning, 48));
  icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  auto label = [this](int id, const QString& text) {
    auto* l = new QLabel(text, this);
    l->setObjectName(QString("ctl%1").arg(id));
    return l;
  };
  auto* name = label(kAboutNameControl, name_text_);
  QFont bold = name->font();
  bold.setBold(true);
  name->setFont(bold);
  auto* fixed = new QLabel(kAboutFixedLine, this);
  auto* versionLabel = label(kAboutVersionControl, version_text_);
  auto* state = label(kAboutStateControl, state_text_);

  auto* texts = new QVBoxLayout;
  texts->setSpacing(4);
  for (QLabel* l : {name, fixed, versionLabel, state}) texts->addWidget(l);
  auto* top = new QHBoxLayout;
  top->setSpacing(16);
  top->addWidget(icon);
  top->addLayout(texts, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setObjectName("ctl1");
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addSpacing(8);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  show();
  raise();
  activateWindow();
}
