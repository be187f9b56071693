#include "tools/lib/elfloader.h"

#include <elf.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Sections are "loaded" into separate buffers. Each gets a base address of
// its own far apart from the others, so that a pointer written by a
// relocation can be traced back to the buffer it points into and checked
// against its bounds before anything is read through it.
//
// Only sections with bytes in the file are loaded: zero-filled ones (.bss)
// hold nothing the version record needs, which lives in initialised data,
// and their size is whatever the file claims. The loaded copies together
// never exceed the file's own size, as the sections of a sound file do not
// overlap: a damaged section table cannot make the reader take more memory
// than the file it reads.
constexpr int kLoadAddressShift = 40;
constexpr uint64_t kMaxFileSize = 1ull << 30;
constexpr size_t kVersionRecordSize = 32;
constexpr size_t kVersionMajorOffset = 28;
constexpr size_t kVersionMinorOffset = 29;
constexpr size_t kVersionPatchOffset = 30;

struct LoadedSection {
  bool loaded = false;
  std::vector<uint8_t> bytes;
  uint64_t base = 0;  // where the buffer pretends to live
};

struct KeptSymbol {
  std::string_view name;
  uint64_t value;
  uint16_t section;
  uint64_t address = 0;  // in loaded memory, 0 when unresolved
};

struct PendingReloc {
  bool rela;
  uint32_t target;  // section the relocation applies to
  Elf64_Rela entry;
};

class ModuleImage {
 public:
  ModuleImage(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool ReadVersion(std::string_view moduleName, int* major, int* minor, int* patch);

 private:
  bool InFile(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  bool ReadHeaders();
  std::string_view SectionName(const Elf64_Shdr& sh) const;
  bool Load(uint32_t index);
  bool IsStringTableToLoad(uint32_t index) const;
  bool CollectFirstPass();
  bool CollectSymbols();
  void CollectRelocations();
  bool CollectSecondPass();
  void ResolveSymbols();
  void ApplyRelocations();
  void Apply(const PendingReloc& r);
  // Finds the loaded section whose own address range holds `addr`.
  int SectionHoldingVaddr(uint64_t addr) const;
  // Bytes [address, address + length) of loaded memory, or null.
  uint8_t* AtLoaded(uint64_t address, uint64_t length);

  const uint8_t* data_;
  size_t size_;
  Elf64_Ehdr eh_{};
  bool shared_ = false;
  std::vector<Elf64_Shdr> sh_;
  std::string_view shstr_;
  std::vector<LoadedSection> sec_;
  uint64_t loadedBytes_ = 0;
  int symtab_ = -1;
  std::vector<uint32_t> relocSections_;
  std::vector<KeptSymbol> symbols_;
  std::vector<PendingReloc> relocs_;
};

bool ModuleImage::ReadHeaders() {
  if (!InFile(0, sizeof eh_)) return false;
  std::memcpy(&eh_, data_, sizeof eh_);
  if (std::memcmp(eh_.e_ident, ELFMAG, SELFMAG) != 0 || eh_.e_ident[EI_CLASS] != ELFCLASS64 ||
      eh_.e_ident[EI_DATA] != ELFDATA2LSB)
    return false;
  if (eh_.e_type != ET_DYN && eh_.e_type != ET_REL) return false;
  shared_ = eh_.e_type == ET_DYN;

  if (eh_.e_shnum == 0 || eh_.e_shentsize < sizeof(Elf64_Shdr)) return false;
  if (!InFile(eh_.e_shoff, uint64_t(eh_.e_shnum) * eh_.e_shentsize)) return false;
  sh_.resize(eh_.e_shnum);
  for (size_t i = 0; i < sh_.size(); ++i)
    std::memcpy(&sh_[i], data_ + eh_.e_shoff + i * eh_.e_shentsize, sizeof(Elf64_Shdr));

  if (eh_.e_shstrndx >= sh_.size()) return false;
  const Elf64_Shdr& names = sh_[eh_.e_shstrndx];
  if (names.sh_type == SHT_NOBITS || !InFile(names.sh_offset, names.sh_size)) return false;
  shstr_ = std::string_view(reinterpret_cast<const char*>(data_ + names.sh_offset), names.sh_size);
  sec_.resize(sh_.size());
  return true;
}

std::string_view ModuleImage::SectionName(const Elf64_Shdr& sh) const {
  if (sh.sh_name >= shstr_.size()) return {};
  std::string_view rest = shstr_.substr(sh.sh_name);
  size_t end = rest.find('\0');
  return end == std::string_view::npos ? std::string_view{} : rest.substr(0, end);
}

bool ModuleImage::Load(uint32_t index) {
  LoadedSection& s = sec_[index];
  if (s.loaded) return true;
  const Elf64_Shdr& sh = sh_[index];
  if (sh.sh_type == SHT_NOBITS || !InFile(sh.sh_offset, sh.sh_size)) return false;
  if (sh.sh_size > size_ - loadedBytes_) return false;
  loadedBytes_ += sh.sh_size;
  s.bytes.assign(data_ + sh.sh_offset, data_ + sh.sh_offset + sh.sh_size);
  s.base = uint64_t(index + 1) << kLoadAddressShift;
  s.loaded = true;
  return true;
}

bool ModuleImage::IsStringTableToLoad(uint32_t index) const {
  std::string_view name = SectionName(sh_[index]);
  if (name == ".shstrtab" || name == ".stabstr" || name == ".stab.indexstr") return false;
  return !(shared_ && name == ".strtab");
}

bool ModuleImage::CollectFirstPass() {
  for (uint32_t i = 1; i < sh_.size(); ++i) {
    const Elf64_Shdr& sh = sh_[i];
    switch (sh.sh_type) {
      case SHT_STRTAB:
        if (IsStringTableToLoad(i) && !Load(i)) return false;
        break;
      case SHT_SYMTAB:
      case SHT_DYNSYM:
        if ((sh.sh_type == SHT_DYNSYM) == shared_) {
          if (!Load(i)) return false;
          symtab_ = int(i);
        }
        break;
      case SHT_RELA:
      case SHT_REL: {
        uint64_t flags = sh.sh_flags;
        if (!shared_) flags = sh.sh_info < sh_.size() ? sh_[sh.sh_info].sh_flags : 0;
        if (flags & SHF_ALLOC) {
          if (!Load(i)) return false;
          relocSections_.push_back(i);
        }
        break;
      }
      default:
        break;
    }
  }
  return true;
}

bool ModuleImage::CollectSymbols() {
  if (symtab_ < 0) return false;
  uint32_t strIndex = sh_[symtab_].sh_link;
  if (strIndex >= sh_.size() || sh_[strIndex].sh_type != SHT_STRTAB || !sec_[strIndex].loaded)
    return false;
  std::string_view strings(reinterpret_cast<const char*>(sec_[strIndex].bytes.data()),
                           sec_[strIndex].bytes.size());
  const std::vector<uint8_t>& table = sec_[symtab_].bytes;
  for (size_t off = 0; off + sizeof(Elf64_Sym) <= table.size(); off += sizeof(Elf64_Sym)) {
    Elf64_Sym sym;
    std::memcpy(&sym, table.data() + off, sizeof sym);
    unsigned bind = ELF64_ST_BIND(sym.st_info);
    unsigned type = ELF64_ST_TYPE(sym.st_info);
    if (bind != STB_GLOBAL && bind != STB_WEAK) continue;
    if (type >= STT_FILE) continue;
    if (sym.st_shndx == SHN_UNDEF || sym.st_shndx == SHN_ABS || sym.st_shndx == SHN_COMMON)
      continue;
    if (sym.st_name >= strings.size()) continue;
    std::string_view name = strings.substr(sym.st_name);
    size_t end = name.find('\0');
    if (end == std::string_view::npos) continue;
    name = name.substr(0, end);
    if (name == ".text" || name == ".data" || name == ".bss" || name == ".comment" ||
        name == ".note")
      continue;
    symbols_.push_back({name, sym.st_value, sym.st_shndx});
  }
  return true;
}

void ModuleImage::CollectRelocations() {
  for (uint32_t i : relocSections_) {
    bool rela = sh_[i].sh_type == SHT_RELA;
    size_t entrySize = rela ? sizeof(Elf64_Rela) : sizeof(Elf64_Rel);
    const std::vector<uint8_t>& bytes = sec_[i].bytes;
    for (size_t off = 0; off + entrySize <= bytes.size(); off += entrySize) {
      PendingReloc r{rela, sh_[i].sh_info, {}};
      std::memcpy(&r.entry, bytes.data() + off, entrySize);
      relocs_.push_back(r);
    }
  }
}

bool ModuleImage::CollectSecondPass() {
  for (uint32_t i = 1; i < sh_.size(); ++i) {
    const Elf64_Shdr& sh = sh_[i];
    bool wanted = (sh.sh_type == SHT_PROGBITS && (sh.sh_flags & SHF_ALLOC)) ||
                  (sh.sh_type == SHT_STRTAB && IsStringTableToLoad(i));
    // A section lying past the end of the file, or beyond what the file
    // could hold, stays unloaded; what points into it is left unresolved.
    if (wanted) Load(i);
  }
  return true;
}

void ModuleImage::ResolveSymbols() {
  for (KeptSymbol& s : symbols_) {
    if (s.section >= sec_.size() || !sec_[s.section].loaded) continue;
    const LoadedSection& sec = sec_[s.section];
    s.address = shared_ ? s.value - sh_[s.section].sh_addr + sec.base : s.value + sec.base;
  }
}

int ModuleImage::SectionHoldingVaddr(uint64_t addr) const {
  for (uint32_t i = 1; i < sh_.size(); ++i) {
    if (!sec_[i].loaded || !(sh_[i].sh_flags & SHF_ALLOC)) continue;
    uint64_t start = sh_[i].sh_addr;
    if (addr >= start && addr - start < sec_[i].bytes.size()) return int(i);
  }
  return -1;
}

uint8_t* ModuleImage::AtLoaded(uint64_t address, uint64_t length) {
  uint64_t index = (address >> kLoadAddressShift);
  if (index == 0 || index > sec_.size()) return nullptr;
  LoadedSection& s = sec_[index - 1];
  if (!s.loaded) return nullptr;
  uint64_t offset = address - s.base;
  if (offset > s.bytes.size() || length > s.bytes.size() - offset) return nullptr;
  return s.bytes.data() + offset;
}

void ModuleImage::Apply(const PendingReloc& r) {
  const uint32_t kind = ELF64_R_TYPE(r.entry.r_info);
  const uint32_t symIndex = ELF64_R_SYM(r.entry.r_info);
  const int64_t addend = r.rela ? r.entry.r_addend : 0;

  if (kind == R_X86_64_RELATIVE) {
    int at = SectionHoldingVaddr(r.entry.r_offset);
    if (at < 0) return;
    uint8_t* p = AtLoaded(sec_[at].base + (r.entry.r_offset - sh_[at].sh_addr), 8);
    if (!p) return;
    uint64_t target;
    if (r.rela) {
      target = uint64_t(addend);
    } else {
      std::memcpy(&target, p, 8);
    }
    // The pointer goes to wherever its target address was loaded, which
    // need not be the section that holds the pointer itself.
    int to = SectionHoldingVaddr(target);
    if (to < 0) return;
    uint64_t value = sec_[to].base + (target - sh_[to].sh_addr);
    std::memcpy(p, &value, 8);
    return;
  }

  if (kind != R_X86_64_64 && kind != R_X86_64_PC32 && kind != R_X86_64_32 &&
      kind != R_X86_64_32S)
    return;
  if (r.target >= sec_.size() || !sec_[r.target].loaded) return;

  // Only symbols that the object itself places can be resolved here.
  if (symIndex == 0 || symtab_ < 0) return;
  const std::vector<uint8_t>& table = sec_[symtab_].bytes;
  if (uint64_t(symIndex) >= table.size() / sizeof(Elf64_Sym)) return;
  Elf64_Sym sym;
  std::memcpy(&sym, table.data() + size_t(symIndex) * sizeof(Elf64_Sym), sizeof sym);
  if (sym.st_shndx >= sec_.size() || !sec_[sym.st_shndx].loaded) return;
  unsigned type = ELF64_ST_TYPE(sym.st_info);
  uint64_t s = 0;
  if (ELF64_ST_BIND(sym.st_info) == STB_LOCAL && type <= STT_FUNC)
    s = sec_[sym.st_shndx].base + sym.st_value;
  else if (type == STT_SECTION)
    s = sec_[sym.st_shndx].base;
  if (s == 0) return;

  const uint64_t place = sec_[r.target].base + r.entry.r_offset;
  if (kind == R_X86_64_64) {
    uint8_t* p = AtLoaded(place, 8);
    if (!p) return;
    uint64_t word;
    std::memcpy(&word, p, 8);
    word += uint64_t(addend) + s;
    std::memcpy(p, &word, 8);
    return;
  }
  uint8_t* p = AtLoaded(place, 4);
  if (!p) return;
  uint32_t word;
  std::memcpy(&word, p, 4);
  uint64_t value = uint64_t(addend) + word + s;
  if (kind == R_X86_64_PC32) value -= place;
  word = uint32_t(value);
  std::memcpy(p, &word, 4);
}

void ModuleImage::ApplyRelocations() {
  for (const PendingReloc& r : relocs_) Apply(r);
}

bool ModuleImage::ReadVersion(std::string_view moduleName, int* major, int* minor, int* patch) {
  if (!ReadHeaders() || !CollectFirstPass() || !CollectSymbols()) return false;
  CollectRelocations();
  CollectSecondPass();
  ResolveSymbols();
  ApplyRelocations();

  std::string wanted = std::string(moduleName) + "ModuleData";
  for (const KeptSymbol& s : symbols_) {
    if (s.name != wanted) continue;
    if (s.address == 0) return false;
    const uint8_t* record = AtLoaded(s.address, 8);
    if (!record) return false;
    uint64_t versionAddress;
    std::memcpy(&versionAddress, record, 8);
    const uint8_t* version = AtLoaded(versionAddress, kVersionRecordSize);
    if (!version) return false;
    uint16_t patchLevel;
    std::memcpy(&patchLevel, version + kVersionPatchOffset, 2);
    *major = version[kVersionMajorOffset];
    *minor = version[kVersionMinorOffset];
    *patch = patchLevel;
    return true;
  }
  return false;
}

}  // namespace

int GetModuleVersionFromImage(const uint8_t* data, size_t size, const char* moduleName,
                              int* major, int* minor, int* patch) {
  if (!data || !moduleName || !major || !minor || !patch) return -1;
  ModuleImage image(data, size);
  return image.ReadVersion(moduleName, major, minor, patch) ? 0 : -1;
}

int GetModuleVersion(const char* path, int* major, int* minor, int* patch) {
  if (!path) return -1;
  std::string_view p(path);
  size_t slash = p.rfind('/');
  if (slash == std::string_view::npos) return -1;
  size_t underscore = p.find('_', slash + 1);
  if (underscore == std::string_view::npos) return -1;
  std::string moduleName(p.substr(slash + 1, underscore - slash - 1));

  FILE* f = std::fopen(path, "rb");
  if (!f) return -1;
  std::vector<uint8_t> image;
  uint8_t chunk[65536];
  size_t n;
  bool tooBig = false;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (image.size() + n > kMaxFileSize) {
      tooBig = true;
      break;
    }
    image.insert(image.end(), chunk, chunk + n);
  }
  bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (tooBig || readError) return -1;
  return GetModuleVersionFromImage(image.data(), image.size(), moduleName.c_str(), major, minor,
                                   patch);
}
