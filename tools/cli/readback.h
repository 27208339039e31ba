// Reading back what a download stored, and what it ought to give: the upload line each data line
// should come back as, after the known losses of its text encoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vudaduv::cli {

// Record types whose downloads can be read back: 1, 3, 5, 7, 10 and 12.
bool CanReadBack(uint32_t recordType);

struct ExpectedRecord {
    std::string key;       // the record's number as the library formats it; "" for a key table
    std::string sentLine;  // the data line that stored it (the last one, if several share a key)
    std::string upload;    // the upload line it should come back as; "" when none should come
};

struct ReadBackPlan {
    uint32_t readType = 0;               // the matching read request
    std::vector<std::string> readLines;  // its data lines, one per record
    std::vector<ExpectedRecord> records;
    std::vector<std::string> rejected;  // data lines the library does not send
};

ReadBackPlan PlanReadBack(uint32_t recordType, const std::vector<std::string>& dataLines, bool en);

struct Difference {
    std::string key;
    std::string field;  // "item number", "fields", "text 1", ..., or "record" when none came back
    std::string expected;
    std::string actual;
    bool missing = false;  // nothing came back for the record
};

struct ReadBackReport {
    std::vector<Difference> differences;
    std::vector<std::string> otherLines;  // lines that belong to no record asked for
};

ReadBackReport CompareReadBack(uint32_t recordType, const ReadBackPlan& plan,
                               const std::vector<std::string>& uploadLines);

// "item 0012", "message 05", "label 03", "key table".
std::string RecordName(uint32_t recordType, const std::string& key);

}  // namespace vudaduv::cli
