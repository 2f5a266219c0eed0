#include "base/path_ops.hpp"

namespace diagpack {

namespace {

// A path read as components: an optional leading root "/" or leading
// current-directory "." (kept in |lead|), then the body, whose pieces are
// separated by "/". Empty and "." pieces of the body are no components.
struct SplitPath {
  std::string_view lead;
  std::string_view body;
};

SplitPath split_lead(std::string_view path) {
  size_t lead = 0;
  if (!path.empty() && path.front() == '/') {
    lead = 1;
  } else if (path == "." || path.substr(0, 2) == "./") {
    lead = 1;
  }
  return {path.substr(0, lead), path.substr(lead)};
}

// The piece after the last "/" of |body| (all of it when there is none).
std::string_view last_piece(std::string_view body) {
  size_t slash = body.rfind('/');
  return slash == std::string_view::npos ? body : body.substr(slash + 1);
}

// |body| without its last piece and the "/" before it.
std::string_view drop_last_piece(std::string_view body) {
  size_t slash = body.rfind('/');
  return slash == std::string_view::npos ? std::string_view()
                                         : body.substr(0, slash);
}

// Drops trailing pieces that are no components ("" and ".").
std::string_view trim_back(std::string_view body) {
  while (!body.empty()) {
    std::string_view piece = last_piece(body);
    if (!piece.empty() && piece != ".") break;
    body = drop_last_piece(body);
  }
  return body;
}

}  // namespace

std::string join_path(std::string_view base, std::string_view name) {
  if (!name.empty() && name.front() == '/') return std::string(name);
  std::string out(base);
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

std::optional<std::string> file_name(std::string_view path) {
  std::string_view body = trim_back(split_lead(path).body);
  if (body.empty()) return std::nullopt;  // "", the root, or "."
  std::string_view name = last_piece(body);
  if (name == "..") return std::nullopt;
  return std::string(name);
}

std::optional<std::string> parent_path(std::string_view path) {
  SplitPath split = split_lead(path);
  std::string_view body = trim_back(split.body);
  if (body.empty()) {
    // The last component is the root (no parent), the current directory
    // (whose parent is the empty path), or there is no component at all.
    if (split.lead == ".") return std::string();
    return std::nullopt;
  }
  std::string_view rest = trim_back(drop_last_piece(body));
  return std::string(path.substr(0, split.lead.size() + rest.size()));
}

Status reject_nul_byte(std::string_view path) {
  if (path.find('\0') == std::string_view::npos) return {};
  return Error::fixed(ErrorKind::InvalidInput, std::string(kNulByteText));
}

}  // namespace diagpack
