#pragma once
// The report's HTTPS submission to the score service.

#include "replay/th10replaydecoder.h"

#include <string>

// Posts the report for `record` to the score service, trusting only the
// "cacert.pem" beside the executable. Problems are shown in error boxes.
void send_to_api(const std::string& token, const th10replay& record);
