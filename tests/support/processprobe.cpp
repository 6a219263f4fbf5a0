#include "processprobe.h"

#include <QFile>
#include <QRegularExpression>

namespace TestSupport {

bool processAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    // Format: pid (comm) state ...; comm may contain blanks and parentheses.
    const int close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size())
        return false;
    return line.at(close + 2) != 'Z' && line.at(close + 2) != 'X';
}

qint64 numberAfter(const QString &text, const QString &key)
{
    const QRegularExpression re(QRegularExpression::escape(key) + QStringLiteral("=(\\d+)"));
    const QRegularExpressionMatch m = re.match(text);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

} // namespace TestSupport
