#pragma once
// The score report: what is sent for one replay.

#include "replay/th10replaydecoder.h"

#include <string>

// One line of JSON: the token and every field of the record, keys in a fixed order.
std::string make_json(const std::string& token, const th10replay& record);
