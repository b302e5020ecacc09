// Writing the bytes of a .kzresource file from one language's texts, prefix-coded or plain.
#pragma once

#include "tools/kzres/source_text.h"

#include <QString>
#include <cstdint>
#include <vector>

// Makes the bytes of a .kzresource file: the header, then the code tree (coded form only),
// the directory and the tables in table order. Coded tables use a prefix code built from the
// unit counts of all the file's tables. Gives false and a message when the texts cannot be
// stored so that they read back exactly (a carriage return in coded form, say).
bool writeResource(const ResourceTexts& texts, bool coded, std::vector<uint8_t>* file,
                   QString* error);
