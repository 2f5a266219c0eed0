// The component table: everything that names one SDK component. Every other
// module receives a row and never spells these names itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace diagpack {

// The component index: one byte, and only these four values can be named.
enum class Component : std::uint8_t { dyn = 0, jce = 1, pkcs11 = 2, cli = 3 };

struct ComponentInfo {
  std::string_view key;               // "jce"
  std::string_view output_dir_name;   // "jce-data"
  std::string_view config_file_name;  // "quorvane-jce.cfg"
  std::string_view package_name;      // "quorvane-jce"
};

// Where every component keeps its configuration file.
inline constexpr std::string_view kConfigDir = "/opt/quorvane/etc";

// The row of |component|.
ComponentInfo component_info(Component component);

// "/opt/quorvane/etc/quorvane-jce.cfg".
std::string config_path(const ComponentInfo& info);

}  // namespace diagpack
