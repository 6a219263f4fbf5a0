#include "ui/widgets/confirmbox.h"

#include <QMessageBox>
#include <QPushButton>

namespace ConfirmBox {

bool ask(const QString &title, const QString &text, const QString &proceed)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok | QMessageBox::Cancel);
    box.button(QMessageBox::Ok)->setText(proceed);
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

} // namespace ConfirmBox
