// CDiscoveryWaitDlg: the "Discovery Process" notice shown while a host search runs
// ("Please wait a moment..."). One exists at a time; pDiscoveryWaitDlg names it.
//
// A search shows it with ShowDiscoveryWait(parent) -- a shown one is brought to the front --
// which also paints it before the (blocking) search starts, and closes it with
// CloseDiscoveryWait() when the search ends.
#pragma once

#include <QDialog>
#include <QPointer>

inline constexpr int IDD_DISCOVERY_WAIT = 238;
inline constexpr int IDC_DISCOVERY_WAIT_TEXT = 2042;

class CDiscoveryWaitDlg : public QDialog {
  Q_OBJECT

 public:
  // Prepares the object only (no window).
  CDiscoveryWaitDlg();
  // Creates the modeless window at once and names it in pDiscoveryWaitDlg.
  explicit CDiscoveryWaitDlg(QWidget* parent);
  ~CDiscoveryWaitDlg() override;

  // Opens the window (when it is not open) and shows it.
  void Create(QWidget* parent);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Build();
  bool built_ = false;
};

extern QPointer<CDiscoveryWaitDlg> pDiscoveryWaitDlg;

// Shows the notice with `parent` (or raises the one shown) and paints it. The notice.
CDiscoveryWaitDlg* ShowDiscoveryWait(QWidget* parent);
// Closes the notice when one is shown and clears the pointer.
void CloseDiscoveryWait();
