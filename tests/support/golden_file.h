// Golden tables: one line per frame, "<frame index> <digest>", with '#'
// lines for comments. The digests themselves belong to each table's test.
#pragma once

#include <fstream>
#include <map>
#include <string>

namespace quarrow_test {

// The table's digests by frame index; empty when the file is missing.
inline std::map<int, std::string> loadGoldenTable(const std::string& path) {
    std::map<int, std::string> table;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const auto space = line.find(' ');
        table[std::stoi(line.substr(0, space))] = line.substr(space + 1);
    }
    return table;
}

}  // namespace quarrow_test
