#include "input_messages.hpp"

#include <cstring>

#include "console.hpp"
#include "record.hpp"

namespace orbelm {
namespace {

// "orbelm: INPUT: line N: "
void append_place(Diagnostic& message, std::string_view input_name,
                  std::size_t line_number) {
  message.append("orbelm: ");
  message.append_name(input_name);
  message.append(": line ");
  message.append_number(line_number);
  message.append(": ");
}

}  // namespace

void report_rejected(std::string_view input_name, std::size_t line_number,
                     std::string_view designation) {
  Diagnostic message;
  append_place(message, input_name, line_number);
  message.append("designation \"");
  message.append_escaped(designation);
  message.append("\" ");
  message.append(designation_problem(designation));
  message.append("; record not converted\n");
  message.write();
}

void report_input_failure(const InputStream& stream,
                          std::string_view input_name,
                          std::size_t whole_lines) {
  Diagnostic message;
  message.append("orbelm: ");
  if (stream.failure != InputFailure::Damaged) {
    message.append("cannot read ");
    message.append_name(input_name);
    message.append(": ");
    message.append(std::strerror(stream.read_error));
    message.append("\n");
    message.write();
    return;
  }
  message.append_name(input_name);
  message.append(": ");
  message.append(stream.damage);
  if (!stream.damage_detail.empty()) {
    message.append(" (");
    message.append(stream.damage_detail);
    message.append(")");
  }
  if (whole_lines == 0) {
    message.append("; no line converted\n");
  } else {
    message.append("; lines after line ");
    message.append_number(whole_lines);
    message.append(" not converted\n");
  }
  message.write();
}

void report_cut_record(std::string_view input_name, std::size_t line_number,
                       const CutRecord& cut) {
  Diagnostic message;
  append_place(message, input_name, line_number);
  if (cut.whole == 0) {
    message.append("the input ends inside a line (");
    message.append_number(cut.size);
    message.append(cut.size == 1 ? " character" : " characters");
    message.append(", too few to tell its kind)");
  } else {
    message.append("the input ends inside a record (");
    message.append_number(cut.size);
    message.append(" of ");
    message.append_number(cut.whole);
    message.append(" characters)");
  }
  message.append("; the file may be cut short\n");
  message.write();
}

}  // namespace orbelm
