// CDiscoverc: edits the subnet list of the dialog that opened it (its owner, see
// subnet_owner.h). Add puts the typed subnet, trimmed, into the list box and at once into the
// owner's list; Delete removes every selected subnet from both. OK asks every open owner to
// search again; Cancel keeps the edits already made. Opened by a window that owns no list,
// the list box starts empty and edits change no list. Run modally.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QListWidget;
class KT_Discover;
class SubnetListOwner;

inline constexpr int IDD_DISCOVERC = 3002;
inline constexpr int IDC_SUBNET_EDIT = 1050;
inline constexpr int IDC_SUBNET_LIST = 1048;
inline constexpr int IDC_SUBNET_ADD = 1717;
inline constexpr int IDC_SUBNET_DELETE = 1718;

class CDiscoverc : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 39;

  explicit CDiscoverc(QWidget* parent = nullptr);
  ~CDiscoverc() override;

  // Fills the list box from the owner's list and runs the dialog; QDialog::Accepted or Rejected.
  int DoModal();
  bool OnInitDialog();

  void OnAdd();
  void OnDelete();
  virtual void OnOK();
  void OnHelp();
  bool IsSubnetInList(const QString& text) const;

  bool Changed() const { return changed_ != 0; }
  SubnetListOwner* Owner() const { return owner_; }
  QWidget* Control(int id) const;
  template <class T>
  T* Control(int id) const {
    return qobject_cast<T*>(Control(id));
  }

 protected:
  // The list that Add and Delete edit: the owner's, else none. CDiscover edits gDiscover's.
  virtual KT_Discover* SubnetList() const;
  void accept() override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QListWidget* list_ = nullptr;
  QLineEdit* edit_ = nullptr;
  QString subnet_;
  SubnetListOwner* owner_ = nullptr;
  int changed_ = 0;
};
