// `kzres dump`: a text resource file read back into source form, with what is damaged in it.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

// What `kzres dump` finds in a file: its texts in source form (a sound file's dump builds
// back into a file with the same texts) and a plain sentence for each thing that is damaged.
struct ResourceDump {
    QString text;
    QStringList problems;
};

// Reads the file the way the text store does, table by table, and says where it breaks.
ResourceDump dumpResource(const std::vector<uint8_t>& file);
