// The About box: our icon, name and version, and the rights notice.
#pragma once

#include <QCoreApplication>
#include <QDialog>

namespace quarnel::ui {

class AboutBox : public QDialog {
  Q_DECLARE_TR_FUNCTIONS(AboutBox)

 public:
  explicit AboutBox(QWidget* parent);
};

}  // namespace quarnel::ui
