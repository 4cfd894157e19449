#pragma once
// The score report and its HTTPS submission to the score service.

#include "replay/th10replaydecoder.h"

#include <filesystem>
#include <string>

// One line of JSON: the token and every field of the record, keys in a fixed order.
std::string make_json(const std::string& token, const th10replay& record);

// Posts the report for `record` to the score service, trusting only the
// "cacert.pem" beside the executable. Problems are shown in error boxes.
void send_to_api(const std::string& token, const th10replay& record);

// The folder holding the running executable. Throws std::runtime_error
// ("Could not determine executable path!") when its path cannot be obtained.
std::filesystem::path executable_directory();
