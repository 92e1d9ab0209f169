#include "Tokens.h"

namespace tds {

namespace {
// Tokens with a u16 length: write the body into a buffer first.
void writeWithLength(Sink& out, uint8_t token, const ByteBuffer& body) {
    out.u8(token);
    out.u16le(uint16_t(body.size()));
    out.bytes(body.data());
}
}  // namespace

void writeEnvChange(Sink& out, uint8_t type, std::string_view newValue, std::string_view oldValue) {
    ByteBuffer b;
    b.u8(type);
    b.bVarchar(newValue);
    b.bVarchar(oldValue);
    writeWithLength(out, kEnvChange, b);
}

void writeCollationChange(Sink& out) {
    ByteBuffer b;
    b.u8(7);
    const uint8_t collation[] = {5, 0x09, 0x04, 0xD0, 0x00, 0x34, 0};
    b.write(collation, sizeof collation);
    writeWithLength(out, kEnvChange, b);
}

void writeMessage(Sink& out, const ServerMessage& m) {
    ByteBuffer b;
    b.i32le(m.number);
    b.u8(m.state);
    b.u8(m.severity);
    b.usVarchar(m.text);
    b.bVarchar(kServerName);
    b.bVarchar(m.procedure);
    b.u32le(1);  // line number
    writeWithLength(out, m.severity > 10 ? kError : kInfo, b);
}

void writeLoginAck(Sink& out, uint32_t tdsVersion) {
    ByteBuffer b;
    b.u8(1);  // SQL interface
    b.u8(uint8_t(tdsVersion >> 24));
    b.u8(uint8_t(tdsVersion >> 16));
    b.u8(uint8_t(tdsVersion >> 8));
    b.u8(uint8_t(tdsVersion));
    b.bVarchar("Microsoft SQL Server");
    const uint8_t version[] = {0x10, 0x00, 0x10, 0x7C};  // 16.0.4220
    b.write(version, 4);
    writeWithLength(out, kLoginAck, b);
}

void writeDone(Sink& out, uint8_t token, uint16_t status, uint16_t command, uint64_t rowCount) {
    out.u8(token);
    out.u16le(status);
    out.u16le(command);
    out.u64le(rowCount);
}

void writeReturnStatus(Sink& out, int32_t value) {
    out.u8(kReturnStatus);
    out.i32le(value);
}

void writeReturnInt(Sink& out, uint16_t ordinal, std::string_view name, int32_t value) {
    out.u8(kReturnValue);
    out.u16le(ordinal);
    out.bVarchar(name);
    out.u8(0x01);  // output parameter
    out.u32le(0);  // user type
    out.u16le(0x0001);
    out.u8(0x26);
    out.u8(4);
    out.u8(4);
    out.i32le(value);
}

void writeColMetadata(Sink& out, const std::vector<Column>& columns) {
    out.u8(kColMetadata);
    out.u16le(uint16_t(columns.size()));
    for (const Column& c : columns) {
        out.u32le(0);
        out.u16le(c.nullable ? 0x0001 : 0x0000);
        writeTypeInfo(out, c.type);
        out.bVarchar(c.name);
    }
}

}  // namespace tds
