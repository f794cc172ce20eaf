// Global identifiers resolved through the domain archives: "ct/domain.ct"
// names each domain's parent, "<domain>/ct/global.ct" maps identifiers to
// tag references. A domain is searched before its parent.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "support/archive.h"

namespace {

constexpr std::uint32_t kDomainRecordSize = 44;
constexpr std::uint32_t kGlobalRecordSize = 8;
constexpr std::size_t kDomainNameSize = 16;

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

bool equal_ignoring_case(const char* a, const char* b) {
  for (;; ++a, ++b) {
    if (lower(*a) != lower(*b)) return false;
    if (*a == '\0') return true;
  }
}

std::uint32_t le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool unresolved(std::uint32_t ref) { return (ref & 0xFFFFu) == 0xFFFFu; }

// Resolves the still unresolved requests from one domain's global.ct.
// Returns the number resolved here, or -1.
int resolve_in_domain(char* domain, std::uint32_t* refs, int count, const std::uint32_t* ids,
                      const char* base_dir) {
  for (char* p = domain; *p; ++p) *p = lower(*p);
  char name[CT_PATH_SIZE];
  int n = std::snprintf(name, sizeof name, "%s/ct/global.ct", domain);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof name) return -1;
  CtArchive ct{};
  if (ct_open(&ct, base_dir, name) != CT_OK) return -1;
  if (ct_select(&ct, 0) != CT_OK || ct.entry.record_size != kGlobalRecordSize) {
    ct_close(&ct);
    return -1;
  }
  int resolved = 0;
  for (std::uint32_t k = 0; k < ct.entry.record_count && resolved < count; ++k) {
    unsigned char record[kGlobalRecordSize];
    if (ct_read_record(&ct, record, sizeof record, k) != CT_OK) break;
    std::uint32_t id = le32(record);
    for (int i = 0; i < count; ++i) {
      if (unresolved(refs[i]) && ids[i] == id) {
        refs[i] = le32(record + 4);
        ++resolved;
        break;
      }
    }
  }
  ct_close(&ct);
  return resolved;
}

// Finds the parent of `domain` in table 0 of domain.ct (selected); false
// when no record names the domain.
bool parent_of(CtArchive* ct, const char* domain, char (&parent)[kDomainNameSize + 1]) {
  for (std::uint32_t k = 0; k < ct->entry.record_count; ++k) {
    char record[kDomainRecordSize];
    if (ct_read_record(ct, record, sizeof record, k) != CT_OK) return false;
    char name[kDomainNameSize + 1] = {};
    std::memcpy(name, record, kDomainNameSize);
    if (!equal_ignoring_case(name, domain)) continue;
    char raw[kDomainNameSize + 1] = {};
    std::memcpy(raw, record + kDomainNameSize, kDomainNameSize);
    const char* p = raw;
    while (is_space(*p)) ++p;
    std::memset(parent, 0, sizeof parent);
    std::memcpy(parent, p, std::strlen(p));
    return true;
  }
  return false;
}

}  // namespace

int ct_resolve_globals(std::uint32_t* refs, int count, const std::uint32_t* ids, const char* base_dir,
                       char* domain) {
  if (count < 0 || (count > 0 && (!refs || !ids)) || !domain) return -1;
  CtArchive ct{};
  if (ct_open(&ct, base_dir, "ct/domain.ct") != CT_OK) return -1;
  if (ct_select(&ct, 0) != CT_OK || ct.entry.record_size != kDomainRecordSize) {
    ct_close(&ct);
    return -1;
  }
  for (int i = 0; i < count; ++i) refs[i] = 0xFFFFFFFFu;

  // The walk ends when a domain comes round again (names compared ignoring
  // case), so a cycle of parents in domain.ct cannot keep it going.
  std::vector<std::string> visited;
  int total = 0;
  char next[kDomainNameSize + 1] = {};
  char* current = domain;  // the caller's buffer first, then our own
  while (*current) {
    // A domain without a readable global.ct resolves nothing; its parents
    // are still searched.
    int resolved = resolve_in_domain(current, refs, count, ids, base_dir);
    if (resolved > 0) total += resolved;
    if (static_cast<unsigned>(total) >= static_cast<unsigned>(count)) break;
    try {
      visited.emplace_back(current);  // already lower-case
    } catch (const std::bad_alloc&) {
      break;
    }
    if (!parent_of(&ct, current, next)) break;
    bool seen = false;
    for (const std::string& v : visited) seen = seen || equal_ignoring_case(v.c_str(), next);
    if (seen) break;
    current = next;
  }
  ct_close(&ct);
  return total;
}
