#pragma once
// The client puts option text into the query as typed, so a device such as
// "net:my phone" arrives as a request line with more than two spaces. Such a
// line is read as: the method before the first space, the version after the
// last one, and everything between as the target, whose spaces are encoded
// as %20 before the HTTP library sees the line.
#include <string>

// Takes one request line, with or without its line ending, and returns it
// with the target's spaces encoded. Lines with fewer than three spaces are
// returned unchanged.
std::string repair_request_line(const std::string& line);
