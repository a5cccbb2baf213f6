#include "sim/cost_model.h"

#include <cinttypes>

namespace sim {

void PrintCostModel(std::FILE* to, const char* prefix)
{
    std::fprintf(to,
                 "%sbus: USB 1.1 full-speed bulk, %" PRIu64 "-byte packets, %" PRIu64 " packets per %" PRIu64
                 " us frame (at most %" PRIu64
                 " bytes/s); an empty transfer takes one packet; packets run back "
                 "to back across transfers\n",
                 prefix, kUsbPacketBytes, kUsbPacketsPerFrame, kUsbFrameMicroseconds, kUsbMostBytesPerSecond);
    std::fprintf(to,
                 "%snand: page read %" PRIu64 " us, page program %" PRIu64 " us, block erase %" PRIu64
                 " us; card sectors cost as pages (erase as program); chip time and bus time add up\n",
                 prefix, kPageReadMicroseconds, kPageProgramMicroseconds, kBlockEraseMicroseconds);
}

}  // namespace sim
