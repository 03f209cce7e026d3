#pragma once
// The checking page's files from page/, compiled into the service so that no install path can go astray.

#include <string_view>

namespace orvel::service {

extern const std::string_view kPageHtml; // with the marks <!--login--> and <!--info--> for what each request adds
extern const std::string_view kPageCss;
extern const std::string_view kPageJs;

} // namespace orvel::service
