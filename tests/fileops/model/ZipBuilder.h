#pragma once
// Builds stored (uncompressed) ZIP archives byte by byte, including the
// shapes real writers produce that a simple reader gets wrong.
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel::test {

struct BuiltMember {
    std::string name;
    std::string data;
    uint32_t dosTime = 0x5A215C00;
    bool streamed = false;      // sizes only in a data descriptor (flag bit 3)
    bool zip64 = false;         // sizes 0xFFFFFFFF, the true ones in Zip64 fields
    uint32_t unixMode = 0;      // 0: no Unix attributes
    uint64_t statedSize = 0;    // when not 0: the size claimed instead of data's
    uint16_t flags = 0;         // more general purpose bits (0x800: the name is UTF-8)
    std::string centralName;    // when not empty: the central directory's name, unlike the local one
};

class ZipBuilder {
public:
    std::string prefix; // bytes before the first local header (a self-extractor)
    bool adjusted = false; // offsets count the prefix, as a self-extractor's should

    void Add(BuiltMember m) { members_.push_back(std::move(m)); }

    std::string Bytes() const
    {
        std::string out = prefix;
        std::string central;
        for (const BuiltMember& m : members_) {
            const uint64_t offset = out.size();
            const uint64_t size = m.statedSize ? m.statedSize : m.data.size();
            const uint32_t crc = Crc(m.data);
            const uint32_t small = m.zip64 ? 0xFFFFFFFF : uint32_t(size);
            std::string localExtra;
            if (m.zip64) {
                Put16(localExtra, 1), Put16(localExtra, 16), Put64(localExtra, size), Put64(localExtra, size);
            }
            Put32(out, 0x04034B50);
            Put16(out, m.zip64 ? 45 : 20);
            Put16(out, uint16_t((m.streamed ? 8 : 0) | m.flags));
            Put16(out, 0);
            Put32(out, m.dosTime);
            Put32(out, m.streamed ? 0 : crc);
            Put32(out, m.streamed ? 0 : small);
            Put32(out, m.streamed ? 0 : small);
            Put16(out, uint16_t(m.name.size()));
            Put16(out, uint16_t(localExtra.size()));
            out += m.name + localExtra + m.data;
            if (m.streamed) {
                Put32(out, 0x08074B50), Put32(out, crc), Put32(out, uint32_t(size)), Put32(out, uint32_t(size));
            }
            std::string extra;
            if (m.zip64) {
                Put16(extra, 1), Put16(extra, 24), Put64(extra, size), Put64(extra, size), Put64(extra, offset);
            }
            Put32(central, 0x02014B50);
            Put16(central, m.unixMode ? 0x0314 : 20);
            Put16(central, m.zip64 ? 45 : 20);
            Put16(central, uint16_t((m.streamed ? 8 : 0) | m.flags));
            Put16(central, 0);
            Put32(central, m.dosTime);
            Put32(central, crc);
            Put32(central, small);
            Put32(central, small);
            const std::string& centralName = m.centralName.empty() ? m.name : m.centralName;
            Put16(central, uint16_t(centralName.size()));
            Put16(central, uint16_t(extra.size()));
            Put16(central, 0), Put16(central, 0), Put16(central, 0);
            Put32(central, m.unixMode << 16);
            Put32(central, m.zip64 ? 0xFFFFFFFF : uint32_t(offset - (adjusted ? 0 : prefix.size())));
            central += centralName + extra;
        }
        const uint64_t cdOffset = out.size() - (adjusted ? 0 : prefix.size());
        out += central;
        Put32(out, 0x06054B50);
        Put16(out, 0), Put16(out, 0);
        Put16(out, uint16_t(members_.size())), Put16(out, uint16_t(members_.size()));
        Put32(out, uint32_t(central.size()));
        Put32(out, uint32_t(cdOffset));
        Put16(out, 0);
        return out;
    }

    static uint32_t Crc(const std::string& data)
    {
        uint32_t crc = 0xFFFFFFFF;
        for (unsigned char c : data) {
            crc ^= c;
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
        }
        return ~crc;
    }
    static void Put16(std::string& s, uint16_t v) { s += char(v & 0xFF), s += char(v >> 8); }
    static void Put32(std::string& s, uint32_t v) { Put16(s, uint16_t(v)), Put16(s, uint16_t(v >> 16)); }
    static void Put64(std::string& s, uint64_t v) { Put32(s, uint32_t(v)), Put32(s, uint32_t(v >> 32)); }

private:
    std::vector<BuiltMember> members_;
};

} // namespace tarnel::test
