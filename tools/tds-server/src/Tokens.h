// Reply tokens as SQL Server sends them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Bytes.h"
#include "Values.h"

namespace tds {

enum Token : uint8_t {
    kReturnStatus = 0x79,
    kColMetadata = 0x81,
    kError = 0xAA,
    kInfo = 0xAB,
    kReturnValue = 0xAC,
    kLoginAck = 0xAD,
    kRow = 0xD1,
    kEnvChange = 0xE3,
    kDone = 0xFD,
    kDoneProc = 0xFE,
    kDoneInProc = 0xFF,
};

enum DoneStatus : uint16_t {
    kDoneFinal = 0x0000,
    kDoneMore = 0x0001,
    kDoneError = 0x0002,
    kDoneCount = 0x0010,
    kDoneAttn = 0x0020,
};

constexpr const char* kServerName = "DORVANTIS-TDS";

struct ServerMessage {
    int number = 0;
    uint8_t state = 1;
    uint8_t severity = 16;  // "class": above 10 is an error
    std::string text;
    std::string procedure;
};

struct Column {
    std::string name;
    ColumnType type;
    bool nullable = true;
};

void writeEnvChange(Sink& out, uint8_t type, std::string_view newValue, std::string_view oldValue);
void writeCollationChange(Sink& out);
void writeMessage(Sink& out, const ServerMessage& message);  // ERROR when severity > 10, else INFO
void writeLoginAck(Sink& out, uint32_t tdsVersion);
void writeDone(Sink& out, uint8_t token, uint16_t status, uint16_t command, uint64_t rowCount);
void writeReturnStatus(Sink& out, int32_t value);
void writeReturnInt(Sink& out, uint16_t ordinal, std::string_view name, int32_t value);
void writeColMetadata(Sink& out, const std::vector<Column>& columns);

}  // namespace tds
