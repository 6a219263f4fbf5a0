#pragma once

#include <QString>

// The question before something the operator cannot undo (dropping the
// platform's tables, stopping every server): a warning box whose default,
// and Escape, is "取消". Parentless, so that it shows also while the window
// is hidden in the tray.
namespace ConfirmBox {

// True when the operator chose proceed.
bool ask(const QString &title, const QString &text, const QString &proceed);

} // namespace ConfirmBox
