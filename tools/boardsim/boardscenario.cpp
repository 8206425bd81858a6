#include "boardscenario.h"

const QList<BoardScenario> &BoardScenario::all()
{
    static const QList<BoardScenario> table = {
        {QStringLiteral("unknown-frame"),
         QStringLiteral("a frame that no command table knows (passed through as EVENT_ANY)"),
         {QStringLiteral("7F 0A 99 A2 B3 C4 02 FF 12 34 56 78 CF")}},
        {QStringLiteral("burst"),
         QStringLiteral("three frames in one write; the PC delivers them one per pass, in order"),
         {QStringLiteral("7F 08 99 A2 B3 C4 02 FF 70 01 CF 7F 08 99 A2 B3 C4 02 FF 70 02 CF "
                         "7F 08 99 A2 B3 C4 02 FF 70 03 CF")}},
        {QStringLiteral("noise"),
         QStringLiteral("line noise and broken frames around one good frame"),
         {QStringLiteral("00 13 7F 7F 08 98 A2 B3 C4 02 FF 01 CF 7F 90 99 A2 B3 C4 02 FF CF"),
          QStringLiteral("7F 08 99 A2 B3 C4 02 FF 71 01 CF EE")}},
    };
    return table;
}

BoardScenario BoardScenario::find(const QString &name)
{
    for (const BoardScenario &s : all())
        if (s.name == name)
            return s;
    return {};
}
