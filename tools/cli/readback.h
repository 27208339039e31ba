// Reading back what a download stored, and comparing it with the data lines as written. What
// each line should come back as is what the check foresaw (check.h): a difference it foresaw is
// the library's doing, any other the scale's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vudaduv::cli {

// Record types whose downloads can be read back: 1, 3, 5, 7, 10 and 12.
bool CanReadBack(uint32_t recordType);

struct ExpectedRecord {
    std::string key;       // the record's number as sent; "" for type 7 data and the key table
    std::string sentLine;  // the data line that stored it (the last one, if several share a key)
    bool foreseenLine = false;  // the check's read-back gave a line for it
    std::string foreseen;       // that line
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
    std::string field;  // "item number", "text 1", ...; "record" when nothing came back
    std::string sent;   // as written
    std::string back;   // as it came back
    bool missing = false;   // nothing came back for the record
    bool foreseen = false;  // the check said so before the send
};

struct ReadBackReport {
    std::vector<Difference> differences;
    std::vector<std::string> otherLines;  // lines that belong to no record asked for
};

ReadBackReport CompareReadBack(uint32_t recordType, const ReadBackPlan& plan,
                               const std::vector<std::string>& uploadLines);

// "item 0012", "message 05", "label 03", "key table", "type 7 data".
std::string RecordName(uint32_t recordType, const std::string& key);

}  // namespace vudaduv::cli
