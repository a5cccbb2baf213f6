#include "device/transport/command_block.h"

#include "device/transport/byte_order.h"

#include <cstring>

namespace engine {

CommandBlock BuildCommand(std::uint8_t opcode, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3, std::uint16_t value)
{
    CommandBlock block{};
    block.opcode = opcode;
    block.param1 = p1;
    block.param2 = p2;
    block.param3 = p3;
    block.valueLow = static_cast<std::uint8_t>(value);
    block.valueHigh = static_cast<std::uint8_t>(value >> 8);
    std::memcpy(block.signature, kCommandSignature, sizeof block.signature);
    return block;
}

CommandBlock BuildNandPageWrite(std::uint8_t mask, std::uint8_t column, std::uint8_t sector, std::uint16_t row)
{
    CommandBlock block{};
    block.opcode = kOpNandWritePage;
    block.param1 = mask;
    block.param2 = column;
    block.param3 = sector;
    block.valueLow = static_cast<std::uint8_t>(row);
    block.valueHigh = static_cast<std::uint8_t>(row >> 8);
    return block;
}

CommandBlock BuildBlockWriteHeader(std::uint8_t opcode, std::uint8_t mask, std::uint8_t column, std::uint8_t sector,
                                   std::uint16_t row, std::uint32_t byteCount)
{
    CommandBlock block = BuildNandPageWrite(mask, column, sector, row);
    block.opcode = opcode;
    // The player takes the count middle byte first.
    block.byteCount[0] = static_cast<std::uint8_t>(byteCount >> 8);
    block.byteCount[1] = static_cast<std::uint8_t>(byteCount);
    block.byteCount[2] = static_cast<std::uint8_t>(byteCount >> 16);
    block.byteCount[3] = static_cast<std::uint8_t>(byteCount >> 24);
    return block;
}

CommandBlock BuildFileHeaderQuery(std::uint8_t storage, std::uint16_t recordId)
{
    CommandBlock block{};
    block.opcode = kOpQueryFileHeader;
    block.param1 = storage;
    block.param2 = static_cast<std::uint8_t>(recordId);
    block.param3 = static_cast<std::uint8_t>(recordId >> 8);
    return block;
}

CardCommandBlock BuildCardCommand(std::uint8_t command, std::uint32_t sector, std::uint16_t crc)
{
    CardCommandBlock block{};
    block.command = command;
    StoreBe32(block.argument, sector);
    StoreBe16(block.crc, crc);
    return block;
}

}  // namespace engine
