// The library's dynamic symbol table: exactly the three entry points are defined and exported.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "host/module_host.h"

namespace {

// Names of the defined global or weak symbols of an ELF64 shared object's .dynsym.
std::set<std::string> ExportedSymbols(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> image((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    std::set<std::string> names;
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
    if (image.size() < sizeof(Elf64_Ehdr) || std::memcmp(header->e_ident, ELFMAG, SELFMAG) != 0 ||
        header->e_ident[EI_CLASS] != ELFCLASS64) {
        return names;
    }
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
    for (int i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM) continue;
        const char* strings = image.data() + sections[sections[i].sh_link].sh_offset;
        const auto* symbols =
            reinterpret_cast<const Elf64_Sym*>(image.data() + sections[i].sh_offset);
        for (size_t k = 0; k < sections[i].sh_size / sizeof(Elf64_Sym); ++k) {
            const int bind = ELF64_ST_BIND(symbols[k].st_info);
            if (symbols[k].st_shndx != SHN_UNDEF && (bind == STB_GLOBAL || bind == STB_WEAK)) {
                names.insert(strings + symbols[k].st_name);
            }
        }
    }
    return names;
}

TEST(ExportsTest, ExactlyTheThreeEntryPoints) {
    EXPECT_EQ(ExportedSymbols(host::DefaultModulePath()),
              (std::set<std::string>{"GetASVersion", "GetClassFactory", "ReleaseClassFactory"}));
}

}  // namespace
