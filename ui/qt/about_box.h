// The About box: our icon, name, the rights notice and the build's version.
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
