// Which later line of a list stores the same record over each line: one table of lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vudaduv_model.h"

namespace vudaduv::model {
namespace {

struct OverwriteCase {
    uint32_t recordType;
    std::vector<std::string> lines;
    std::vector<std::size_t> storedOverBy;  // kNotOverwritten for a line that stays
};

constexpr std::size_t kStays = kNotOverwritten;

const OverwriteCase kOverwriteCases[] = {
    {1, {"12A1", "13A1", "0012A2"}, {2, kStays, kStays}},
    {10, {"3AxBy", "4AxBy", "03AzBy"}, {2, kStays, kStays}},
    {7, {"first", "second", "third"}, {2, 2, kStays}},
    {12, {std::string(568, '1'), "ab", std::string(568, '2')}, {2, kStays, kStays}},
    {2, {"12", "12"}, {kStays, kStays}},  // a read request stores nothing
};

TEST(OverwriteTable, NamesTheLineThatStoresOverEachLine) {
    for (const OverwriteCase& c : kOverwriteCases) {
        EXPECT_EQ(LinesStoredOverLater(c.recordType, false, c.lines), c.storedOverBy)
            << "type " << c.recordType;
    }
}

}  // namespace
}  // namespace vudaduv::model
