// The diagnostics about an input, one line each on standard error: a record
// whose designation cannot name a file, an input that cannot be read or
// whose compressed data is damaged, and an input that ends inside a record.
// INPUT is the input as the run names it ("standard input" for "-"); lines
// count from 1 in each input.
//
// Part of the driver: the caller clears the status line first.
#ifndef ORBELM_INPUT_MESSAGES_HPP
#define ORBELM_INPUT_MESSAGES_HPP

#include <cstddef>
#include <string_view>

#include "input.hpp"
#include "lines.hpp"

namespace orbelm {

// "orbelm: INPUT: line N: designation "X" REASON; record not converted",
// with the reason of designation_problem.
void report_rejected(std::string_view input_name, std::size_t line_number,
                     std::string_view designation);

// Why `stream` ended early after `whole_lines` lines: "orbelm: cannot read
// INPUT: REASON", or "orbelm: INPUT: compressed data ends early; lines
// after line 6 not converted" ("; no line converted" for 0 lines).
void report_input_failure(const InputStream& stream,
                          std::string_view input_name, std::size_t whole_lines);

// "orbelm: INPUT: line 15: the input ends inside a record (158 of 202
// characters); the file may be cut short", or for a line too short to
// tell its kind "... the input ends inside a line (4 characters, too few
// to tell its kind); the file may be cut short".
void report_cut_record(std::string_view input_name, std::size_t line_number,
                       const CutRecord& cut);

}  // namespace orbelm

#endif
