// The settings page's text, built into the program from cli/settings/page/: one HTML document
// whose style and script are put in where it says "/*STYLE*/" and "/*SCRIPT*/".
#pragma once

#include <string>

const std::string& settingsPageHtml();
const std::string& settingsPageStyle();
const std::string& settingsPageScript();
