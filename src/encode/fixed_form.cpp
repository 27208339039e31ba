#include "encode/builders.h"
#include "encode/encode_line.h"
#include "vudaduv_codec.h"

namespace vudaduv {

namespace {

// "!0" + letter + the number field + "A\r\n": the shape of every read request by number.
std::string NumberedRequest(char letter, const std::string& number) {
    return std::string("!0") + letter + number + "A\r\n";
}

// The number field of a read request, as wide and as high as its type allows.
std::string RequestedNumber(uint32_t readType, std::string_view dataLine) {
    const RecordType& type = RecordTypeOf(readType);
    return FormatNumericField(dataLine, type.numberMaximum, type.numberWidth);
}

// The last two digits of a clock number, "0" in front of a single digit.
std::string TwoClockDigits(int value) {
    std::string digits = std::to_string(value);
    if (digits.size() < 2) digits.insert(0, 1, '0');
    return digits.substr(digits.size() - 2);
}

}  // namespace

CommandLines BuildReadItem(std::string_view dataLine) {
    return {NumberedRequest('U', RequestedNumber(2, dataLine))};
}

CommandLines BuildReadMessage3(std::string_view dataLine) {
    return {NumberedRequest('W', RequestedNumber(4, dataLine))};
}

CommandLines BuildReadMessage5(std::string_view dataLine) {
    return {NumberedRequest('Y', RequestedNumber(6, dataLine))};
}

CommandLines BuildFreeData(std::string_view dataLine) {
    return {"!0O" + std::string(dataLine) + "\r\n"};
}

CommandLines BuildReadFreeData() {
    return {"!0N\r\n"};
}

std::string FormatClockCommand(const platform::LocalTime& time) {
    return "!0P" + TwoClockDigits(time.year) + TwoClockDigits(time.month) +
           TwoClockDigits(time.day) + TwoClockDigits(time.hour) + TwoClockDigits(time.minute) +
           "\r\n";
}

CommandLines BuildSetClock() {
    return {FormatClockCommand(platform::GetLocalClock())};
}

CommandLines BuildReadLabel(std::string_view dataLine) {
    std::string number = RequestedNumber(11, dataLine);
    return {NumberedRequest('S', number), NumberedRequest('Q', number)};
}

CommandLines BuildReadKeyTable() {
    CommandLines lines;
    for (int block = 0; block < 4; ++block) {
        lines.push_back("!0K0" + std::to_string(block) + "A\r\n");
    }
    return lines;
}

}  // namespace vudaduv
