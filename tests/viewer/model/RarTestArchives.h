#pragma once
// Builds stored (uncompressed) RAR 4 and RAR 5 archives byte by byte: marker,
// archive header, one header plus data per member, end block, each header
// with its CRC. No RAR writer is at hand, and this way a test can damage
// exactly the byte it means to.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace tarnel::test {

inline uint32_t Crc32(const uint8_t* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

struct RarMember {
    std::string name;
    std::string data;
    bool directory = false;
    bool symlink = false;          // data is the link target
    uint64_t claimedSize = 0;      // when set, the sizes the header states (data is not padded)
    bool badCrc = false;
    bool dataFlag = true;          // flag 0x8000; the format has file headers carry data either way
    bool unicode = false;          // flag 0x200: name holds the plain name, a zero byte and the encoded one
};

class Rar4Builder {
public:
    Rar4Builder& Add(RarMember member)
    {
        members_.push_back(std::move(member));
        return *this;
    }
    Rar4Builder& File(const std::string& name, const std::string& data)
    {
        return Add({name, data});
    }
    Rar4Builder& Directory(const std::string& name)
    {
        RarMember m{name, {}};
        m.directory = true;
        return Add(m);
    }

    std::string Bytes(bool endBlock = true) const
    {
        std::vector<uint8_t> out = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
        Header(out, 0x73, 0x0000, {0, 0, 0, 0, 0, 0});
        for (const RarMember& m : members_) FileBlock(out, m);
        if (endBlock) Header(out, 0x7B, 0x4000, {});
        return std::string(out.begin(), out.end());
    }

    void Write(const std::string& path, bool endBlock = true) const
    {
        std::ofstream(path, std::ios::binary) << Bytes(endBlock);
    }

private:
    static void Put16(std::vector<uint8_t>& v, uint32_t x) { v.push_back(uint8_t(x)), v.push_back(uint8_t(x >> 8)); }
    static void Put32(std::vector<uint8_t>& v, uint32_t x) { Put16(v, x & 0xFFFF), Put16(v, x >> 16); }

    // CRC, type, flags, size, then the body; the CRC covers type to body end.
    static void Header(std::vector<uint8_t>& out, uint8_t type, uint16_t flags, const std::vector<uint8_t>& body)
    {
        std::vector<uint8_t> h;
        h.push_back(type);
        Put16(h, flags);
        Put16(h, uint32_t(7 + body.size()));
        h.insert(h.end(), body.begin(), body.end());
        Put16(out, Crc32(h.data(), h.size()) & 0xFFFF);
        out.insert(out.end(), h.begin(), h.end());
    }

    static void FileBlock(std::vector<uint8_t>& out, const RarMember& m)
    {
        const uint64_t size = m.claimedSize ? m.claimedSize : m.data.size();
        const bool large = size > 0xFFFFFFFFu;
        uint16_t flags = m.dataFlag ? 0x8000 : 0; // a data area follows
        if (m.directory) flags |= 0xE0;
        if (m.unicode) flags |= 0x0200;
        if (large) flags |= 0x0100;
        std::vector<uint8_t> body;
        Put32(body, uint32_t(size));
        Put32(body, uint32_t(size));
        body.push_back(3); // host: Unix, so names use "/" and attributes are modes
        uint32_t crc = Crc32(reinterpret_cast<const uint8_t*>(m.data.data()), m.data.size());
        if (m.badCrc) crc ^= 0x5A5A5A5Au;
        Put32(body, crc);
        Put32(body, (uint32_t(2024 - 1980) << 25) | (5u << 21) | (17u << 16) | (12u << 11) | (30u << 5));
        body.push_back(20);   // version needed
        body.push_back(0x30); // stored
        Put16(body, uint32_t(m.name.size()));
        Put32(body, m.directory ? 040755 : m.symlink ? 0120777 : 0100644);
        if (large) {
            Put32(body, uint32_t(size >> 32));
            Put32(body, uint32_t(size >> 32));
        }
        body.insert(body.end(), m.name.begin(), m.name.end());
        Header(out, 0x74, flags, body);
        out.insert(out.end(), m.data.begin(), m.data.end());
    }

    std::vector<RarMember> members_;
};

// A RAR 4 file name with the Unicode flag: the plain name, a zero byte, then
// the UTF-16 name, every character written as two bytes.
inline std::string Rar4UnicodeName(const std::string& plain, const std::u16string& name)
{
    std::string out = plain;
    out.push_back('\0');
    out.push_back('\0'); // the high byte shared by one-byte characters: unused here
    for (size_t i = 0; i < name.size(); i += 4) {
        const size_t count = std::min<size_t>(4, name.size() - i);
        uint8_t flags = 0;
        for (size_t k = 0; k < count; ++k) flags |= uint8_t(2u << (6 - 2 * k)); // two bytes each
        out.push_back(char(flags));
        for (size_t k = 0; k < count; ++k) {
            out.push_back(char(name[i + k] & 0xFF));
            out.push_back(char(name[i + k] >> 8));
        }
    }
    return out;
}

struct Rar5Member {
    std::string name;
    std::string data;            // the bytes stored in this volume
    bool directory = false;
    std::string hardLinkTo;      // a hard link to this earlier member
    uint64_t unpackedSize = ~uint64_t(0); // the whole member's size; data.size() when unset
    bool splitBefore = false;    // continues a member of the previous volume
    bool splitAfter = false;     // goes on in the next volume
    bool crc = true;             // the CRC of data is stored
    std::string crcOf;           // when set, the CRC stored is this text's (a split member's whole data)
};

class Rar5Builder {
public:
    Rar5Builder& Add(Rar5Member member)
    {
        members_.push_back(std::move(member));
        return *this;
    }
    Rar5Builder& File(const std::string& name, const std::string& data) { return Add({name, data}); }
    Rar5Builder& Directory(const std::string& name)
    {
        Rar5Member m{name, {}};
        m.directory = true;
        return Add(m);
    }
    Rar5Builder& HardLink(const std::string& name, const std::string& target)
    {
        Rar5Member m{name, {}};
        m.hardLinkTo = target;
        return Add(m);
    }
    // One volume of a set: number 0 is the first; more: another one follows.
    Rar5Builder& Volume(unsigned number, bool more)
    {
        volume_ = true;
        volumeNumber_ = number;
        moreVolumes_ = more;
        return *this;
    }

    std::string Bytes() const
    {
        std::string out("Rar!\x1A\x07\x01\x00", 8);
        std::string main = Vint(volume_ ? (volumeNumber_ ? 3 : 1) : 0);
        if (volume_ && volumeNumber_) main += Vint(volumeNumber_);
        Block(out, 1, 0, main, {}, nullptr);
        for (const Rar5Member& m : members_) FileBlock(out, m);
        Block(out, 5, 0, Vint(moreVolumes_ ? 1 : 0), {}, nullptr);
        return out;
    }

    void Write(const std::string& path) const { std::ofstream(path, std::ios::binary) << Bytes(); }

private:
    static std::string Vint(uint64_t x)
    {
        std::string v;
        do {
            uint8_t b = x & 0x7F;
            x >>= 7;
            if (x) b |= 0x80;
            v.push_back(char(b));
        } while (x);
        return v;
    }
    static void Put32(std::string& v, uint32_t x)
    {
        for (int i = 0; i < 4; ++i) v.push_back(char(x >> (8 * i)));
    }
    static uint32_t Crc(const std::string& s) { return Crc32(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

    // CRC32, size, then type, flags, the extra area's and the data's sizes,
    // the body and the extra area; the CRC covers the size field onwards.
    static void Block(std::string& out, uint64_t type, uint64_t flags, const std::string& body,
                      const std::string& extra, const std::string* data)
    {
        if (!extra.empty()) flags |= 0x0001;
        if (data) flags |= 0x0002;
        std::string h = Vint(type) + Vint(flags);
        if (!extra.empty()) h += Vint(extra.size());
        if (data) h += Vint(data->size());
        h += body + extra;
        const std::string sized = Vint(h.size()) + h;
        Put32(out, Crc(sized));
        out += sized;
        if (data) out += *data;
    }

    static void FileBlock(std::string& out, const Rar5Member& m)
    {
        const uint64_t size = m.unpackedSize != ~uint64_t(0) ? m.unpackedSize : m.data.size();
        const bool crc = m.crc && !m.directory;
        std::string body = Vint((m.directory ? 1 : 0) | (crc ? 4 : 0)) + Vint(size);
        body += Vint(m.directory ? 040755 : 0100644);
        if (crc) Put32(body, Crc(m.crcOf.empty() ? m.data : m.crcOf));
        body += Vint(0) + Vint(1); // stored; made on Unix
        body += Vint(m.name.size()) + m.name;
        std::string extra;
        if (!m.hardLinkTo.empty()) {
            const std::string record = Vint(5) + Vint(4) + Vint(0) + Vint(m.hardLinkTo.size()) + m.hardLinkTo;
            extra = Vint(record.size()) + record;
        }
        const uint64_t flags = (m.splitBefore ? 0x0008 : 0) | (m.splitAfter ? 0x0010 : 0);
        Block(out, 2, flags, body, extra, &m.data);
    }

    std::vector<Rar5Member> members_;
    bool volume_ = false;
    unsigned volumeNumber_ = 0;
    bool moreVolumes_ = false;
};

} // namespace tarnel::test
