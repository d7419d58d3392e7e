// The dynamic interface of the built shared library, read straight from its
// ELF file: which symbols it defines, its soname and its file name.  The ELF64
// structures are decoded by hand so that the test needs no host tool and runs
// unchanged on x86-64 and, under emulation, on AArch64.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#ifndef NORVA_SHARED_LIBRARY
#error "NORVA_SHARED_LIBRARY must name the built shared library"
#endif

namespace {

// The exports declared in norva.h.
const std::set<std::string> kExports = {
    "norva_version",     "norva_solve",      "norva_solve_many",
    "norva_solve_interval", "norva_spd",     "norva_lstsq",
    "norva_eig_sym",     "norva_solve_band", "norva_solve_sparse",
    "norva_spd_sparse",  "norva_solve_batch",
};

constexpr uint32_t kShtDynsym = 11, kShtDynamic = 6;
constexpr int64_t kDtNull = 0, kDtSoname = 14;
constexpr uint16_t kShnUndef = 0;
constexpr uint8_t kStbGlobal = 1, kStbWeak = 2, kStbGnuUnique = 10;
constexpr uint8_t kSttFunc = 2;
constexpr uint16_t kEmX8664 = 62, kEmAarch64 = 183;

struct Symbol {
    std::string name;
    uint8_t bind, type;
    bool defined;
};

struct Elf {
    std::vector<unsigned char> bytes;
    std::string error;  // empty when the file was decoded
    uint16_t machine = 0;
    std::vector<Symbol> dynsyms;
    std::vector<std::string> sonames;

    template <class T> T get(uint64_t off) const {
        T v{};
        if (off > bytes.size() || bytes.size() - off < sizeof(T)) return v;
        std::memcpy(&v, bytes.data() + off, sizeof(T));  // ELFDATA2LSB == host order
        return v;
    }
    bool in_file(uint64_t off, uint64_t len) const {
        return off <= bytes.size() && len <= bytes.size() - off;
    }
    std::string str(uint64_t table_off, uint64_t table_size, uint64_t idx) const {
        if (idx >= table_size) return "<bad string index>";
        const char *p = reinterpret_cast<const char *>(bytes.data() + table_off + idx);
        return std::string(p, strnlen(p, table_size - idx));
    }
};

struct Section {
    uint32_t type, link;
    uint64_t offset, size, entsize;
};

Elf load(const std::string &path) {
    Elf e;
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        e.error = "cannot open " + path;
        return e;
    }
    e.bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    const auto &b = e.bytes;
    if (b.size() < 64 || std::memcmp(b.data(), "\x7f" "ELF", 4) != 0) {
        e.error = "not an ELF file";
        return e;
    }
    if (b[4] != 2 || b[5] != 1) {
        e.error = "not a little-endian ELF64 file";
        return e;
    }
    e.machine = e.get<uint16_t>(18);
    const uint64_t shoff = e.get<uint64_t>(40);
    const uint16_t shentsize = e.get<uint16_t>(58), shnum = e.get<uint16_t>(60);
    if (shentsize != 64 || !e.in_file(shoff, uint64_t(shnum) * 64)) {
        e.error = "bad section header table";
        return e;
    }
    std::vector<Section> sh(shnum);
    for (uint16_t i = 0; i < shnum; ++i) {
        const uint64_t o = shoff + uint64_t(i) * 64;
        sh[i] = {e.get<uint32_t>(o + 4), e.get<uint32_t>(o + 40), e.get<uint64_t>(o + 24),
                 e.get<uint64_t>(o + 32), e.get<uint64_t>(o + 56)};
        if (sh[i].type != 8 /* SHT_NOBITS */ && !e.in_file(sh[i].offset, sh[i].size)) {
            e.error = "section " + std::to_string(i) + " lies outside the file";
            return e;
        }
    }
    int ndynsym = 0;
    for (const Section &s : sh) {
        if (s.type != kShtDynsym && s.type != kShtDynamic) continue;
        if (s.link >= shnum) {
            e.error = "bad sh_link";
            return e;
        }
        const Section &strtab = sh[s.link];
        if (s.type == kShtDynsym) {
            ++ndynsym;
            if (s.entsize != 24) {
                e.error = "unexpected .dynsym entry size";
                return e;
            }
            for (uint64_t k = 1; k < s.size / 24; ++k) {  // entry 0 is the null symbol
                const uint64_t o = s.offset + k * 24;
                const uint8_t info = e.get<uint8_t>(o + 4);
                e.dynsyms.push_back({e.str(strtab.offset, strtab.size, e.get<uint32_t>(o)),
                                     uint8_t(info >> 4), uint8_t(info & 15),
                                     e.get<uint16_t>(o + 6) != kShnUndef});
            }
        } else {
            for (uint64_t k = 0; k < s.size / 16; ++k) {
                const int64_t tag = e.get<int64_t>(s.offset + k * 16);
                if (tag == kDtNull) break;
                if (tag == kDtSoname)
                    e.sonames.push_back(
                        e.str(strtab.offset, strtab.size, e.get<uint64_t>(s.offset + k * 16 + 8)));
            }
        }
    }
    if (ndynsym != 1) e.error = "expected exactly one .dynsym section";
    return e;
}

class SharedLibrary : public ::testing::Test {
protected:
    static void SetUpTestSuite() { elf = new Elf(load(NORVA_SHARED_LIBRARY)); }
    static void TearDownTestSuite() {
        delete elf;
        elf = nullptr;
    }
    void SetUp() override { ASSERT_EQ(elf->error, "") << NORVA_SHARED_LIBRARY; }
    static Elf *elf;
};
Elf *SharedLibrary::elf = nullptr;

TEST_F(SharedLibrary, BuiltForTheTargetArchitecture) {
#if defined(__aarch64__)
    EXPECT_EQ(elf->machine, kEmAarch64);
#elif defined(__x86_64__)
    EXPECT_EQ(elf->machine, kEmX8664);
#else
    GTEST_SKIP() << "unknown target architecture";
#endif
}

// Only the declared norva_ functions may be visible to the dynamic linker:
// internal routines (the qx summation module, the solver helpers), C++
// runtime pieces and anything mangled must stay local.
TEST_F(SharedLibrary, DefinesOnlyTheDeclaredExports) {
    std::set<std::string> defined;
    for (const Symbol &s : elf->dynsyms) {
        if (!s.defined) continue;
        if (s.bind != kStbGlobal && s.bind != kStbWeak && s.bind != kStbGnuUnique) continue;
        EXPECT_EQ(s.name.rfind("norva_", 0), 0u) << "exported symbol without the prefix: " << s.name;
        EXPECT_TRUE(kExports.count(s.name)) << "exported symbol not declared in norva.h: " << s.name;
        EXPECT_EQ(s.type, kSttFunc) << s.name << " is not a function";
        EXPECT_TRUE(defined.insert(s.name).second) << s.name << " is defined twice";
    }
    EXPECT_TRUE(defined.count("norva_version")) << "norva_version is not exported";
}

// Every function that norva.h declares is defined by the library.  A C++
// definition that lost its C linkage, or a source file missing from the
// build, shows up here.
TEST_F(SharedLibrary, ExportsEveryDeclaredFunction) {
    std::set<std::string> defined;
    for (const Symbol &s : elf->dynsyms)
        if (s.defined) defined.insert(s.name);
    for (const std::string &name : kExports)
        EXPECT_TRUE(defined.count(name)) << name << " is declared in norva.h but not exported";
}

TEST_F(SharedLibrary, SonameAndFileName) {
    ASSERT_EQ(elf->sonames.size(), 1u);
    EXPECT_EQ(elf->sonames[0], "libnorva.so.0");
    const std::string path = NORVA_SHARED_LIBRARY;
    EXPECT_EQ(path.substr(path.find_last_of('/') + 1), "libnorva.so.0.7.0");
}

}  // namespace
