// Addresses the product's texts send the user to.
#pragma once

namespace quenvar {

constexpr const wchar_t* kSupportEmail = L"support@quenvar.example";
constexpr const wchar_t* kWebSite = L"www.quenvar.example";

}  // namespace quenvar
