// CAgentAboutDlg: the desktop agent's About box: the product and agent names, the agent's
// version and whether it has a UPS to watch. Modeless, at most one at a time (gAgentAboutDlg);
// it deletes itself when closed.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;

class CAgentAboutDlg : public QDialog {
  Q_OBJECT

 public:
  // Creates and shows the box at once; interfaceType is the UPS interface type of the agent.
  explicit CAgentAboutDlg(int interfaceType, QWidget* parent = nullptr);

  const QString& StateText() const { return state_text_; }
  const QString& NameText() const { return name_text_; }
  const QString& VersionText() const { return version_text_; }

 private:
  QString state_text_;
  QString name_text_;
  QString version_text_;
};

// Whether a UPS interface type means the agent has a UPS to watch (1, 2 or 3).
bool AgentIsActive(int interfaceType);
