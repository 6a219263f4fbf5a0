#pragma once

#include <QString>
#include <QStringList>

// "--name value" options of the benchmarks' command lines.
class BenchOptions
{
public:
    explicit BenchOptions(const QStringList &arguments)
        : args(arguments)
    {
    }

    QString value(const QString &name, const QString &fallback) const
    {
        const int at = args.indexOf(name);
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
    }

private:
    QStringList args;
};
