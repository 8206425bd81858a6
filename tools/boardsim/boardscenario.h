#ifndef BOARDSCENARIO_H
#define BOARDSCENARIO_H

#include <QString>
#include <QStringList>

// Named, canned sequences of simulator commands (the same lines as on the
// standard input), so a situation on the board can be replayed by name.
// A new scenario is one more entry in the table in boardscenario.cpp.
class BoardScenario
{
public:
    QString name;
    QString summary;
    QStringList lines;

    static const QList<BoardScenario> &all();
    // Null scenario (empty name) when there is none by that name.
    static BoardScenario find(const QString &name);
};

#endif
