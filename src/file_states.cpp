#include "file_states.hpp"

#include <bit>
#include <cstring>

#include "hash.hpp"

namespace orbelm {
namespace {

constexpr char MAGIC[8] = {'O', 'R', 'B', 'E', 'L', 'M', 'F', 'S'};

// A block: its entry count and 4 zero bytes, the entries, then the checksum
// of all that, seeded with the block's number so that blocks out of order
// fail too.
constexpr std::size_t BLOCK_HEAD = 8;
constexpr std::size_t CHECKSUM_SIZE = 8;
constexpr std::size_t BLOCK_CAPACITY =
    BLOCK_HEAD + BLOCK_ENTRIES * ENTRY_SIZE + CHECKSUM_SIZE;

// Entries this far behind the latest one found are taken for entries of
// records that the input no longer has there, and carried over.
constexpr std::uint64_t BEHIND = 4096;

void put_u32(char* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<char>((value >> (8U * static_cast<unsigned>(i))) &
                               0xFFU);
}

void put_u64(char* out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i)
    out[i] = static_cast<char>((value >> (8U * static_cast<unsigned>(i))) &
                               0xFFU);
}

std::uint32_t get_u32(const char* in) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = value << 8U | static_cast<unsigned char>(in[i]);
  return value;
}

std::uint64_t get_u64(const char* in) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i)
    value = value << 8U | static_cast<unsigned char>(in[i]);
  return value;
}

// Reads exactly `size` bytes unless the source ends or fails first;
// returns the count read.
std::size_t read_fully(const StateSource& source, char* buffer,
                       std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const long count = source.read(source.context, buffer + done, size - done);
    if (count <= 0) break;
    done += static_cast<std::size_t>(count);
  }
  return done;
}

void write_out(FileStates& states, const char* data, std::size_t size) {
  if (!states.sink_failed && !states.sink.write(states.sink.context, data, size))
    states.sink_failed = true;
}

// Writes the block being filled, if it holds any entry.
void flush_block(FileStates& states) {
  if (states.out_count == 0) return;
  char* block = states.out_block.data();
  put_u32(block, static_cast<std::uint32_t>(states.out_count));
  put_u32(block + 4, 0);
  const std::size_t size = BLOCK_HEAD + states.out_count * ENTRY_SIZE;
  put_u64(block + size, bytes_hash(block, size, states.out_number));
  write_out(states, block, size + CHECKSUM_SIZE);
  ++states.out_number;
  states.out_count = 0;
}

// Reads the next block into in_block; false at the end of the record or
// at a block that is cut or damaged (then the record ends there).
bool read_block(FileStates& states) {
  char* block = states.in_block.data();
  if (read_fully(states.source, block, BLOCK_HEAD) != BLOCK_HEAD) return false;
  const std::uint32_t count = get_u32(block);
  if (count == 0 || count > BLOCK_ENTRIES || get_u32(block + 4) != 0)
    return false;
  const std::size_t size = BLOCK_HEAD + count * ENTRY_SIZE;
  if (read_fully(states.source, block + BLOCK_HEAD,
                 size - BLOCK_HEAD + CHECKSUM_SIZE) !=
          size - BLOCK_HEAD + CHECKSUM_SIZE ||
      get_u64(block + size) != bytes_hash(block, size, states.in_number))
    return false;
  ++states.in_number;
  states.in_count = count;
  states.in_at = 0;
  return true;
}

// The last run's next entry, in the record's order; false at its end.
bool read_entry(FileStates& states, StateEntry& entry) {
  if (states.source_ended) return false;
  if (states.in_at == states.in_count && !read_block(states)) {
    states.source_ended = true;
    return false;
  }
  entry = decode_entry(states.in_block.data() + BLOCK_HEAD +
                       states.in_at * ENTRY_SIZE);
  ++states.in_at;
  return true;
}

// The window's lookup table: open addressing with linear probing over
// twice the window's size, each slot the ring index of an entry plus one.
constexpr std::size_t SLOTS = 2 * WINDOW;

std::size_t home(std::uint64_t name_hash) {
  return static_cast<std::size_t>(name_hash) & (SLOTS - 1);
}

void insert_slot(FileStates& states, std::size_t ring_index) {
  std::size_t at = home(states.ring[ring_index].name_hash);
  while (states.slots[at] != 0) at = (at + 1) & (SLOTS - 1);
  states.slots[at] = static_cast<std::uint32_t>(ring_index + 1);
}

// Removes the slot of `ring_index`, moving later slots of the same probe
// run back so that no lookup stops short (deletion without tombstones).
void remove_slot(FileStates& states, std::size_t ring_index) {
  std::size_t at = home(states.ring[ring_index].name_hash);
  while (states.slots[at] != ring_index + 1) at = (at + 1) & (SLOTS - 1);
  for (std::size_t next = (at + 1) & (SLOTS - 1); states.slots[next] != 0;
       next = (next + 1) & (SLOTS - 1)) {
    const std::size_t wanted =
        home(states.ring[states.slots[next] - 1].name_hash);
    // The slot at `next` may move to `at` when its home is not in the
    // cyclic interval (at, next].
    const bool stays = at < next ? (wanted > at && wanted <= next)
                                 : (wanted > at || wanted <= next);
    if (stays) continue;
    states.slots[at] = states.slots[next];
    at = next;
  }
  states.slots[at] = 0;
}

std::size_t ring_index(std::uint64_t position) {
  return static_cast<std::size_t>(position % WINDOW);
}

void carry(FileStates& states, StateEntry entry) {
  if (entry.age >= MAX_AGE) return;
  ++entry.age;
  record_file_state(states, entry);
}

// Moves the window's first entries on: those used, and those left far
// behind the latest found, which are carried over.
void advance_first(FileStates& states) {
  while (states.first < states.next) {
    const std::size_t index = ring_index(states.first);
    if (!states.used[index]) {
      if (states.first + BEHIND >= states.last_found) return;
      remove_slot(states, index);
      carry(states, states.ring[index]);
    }
    ++states.first;
  }
}

// Marks the entry at `position` used and returns it.
StateEntry take(FileStates& states, std::uint64_t position) {
  const std::size_t index = ring_index(position);
  states.used[index] = true;
  if (position > states.last_found) states.last_found = position;
  return states.ring[index];
}

// The position in the window of an entry named `name_hash`, or `next`.
std::uint64_t find_in_window(const FileStates& states,
                             std::uint64_t name_hash) {
  for (std::size_t at = home(name_hash); states.slots[at] != 0;
       at = (at + 1) & (SLOTS - 1)) {
    const std::size_t index = states.slots[at] - 1;
    if (states.ring[index].name_hash != name_hash) continue;
    // The position from the ring index: within WINDOW before `next`.
    return states.next - 1 -
           (ring_index(states.next - 1) + WINDOW - index) % WINDOW;
  }
  return states.next;
}

}  // namespace

void encode_entry(const StateEntry& entry, char* out) {
  put_u64(out, entry.name_hash);
  put_u64(out + 8, entry.line_hash);
  put_u64(out + 16, entry.state.inode);
  put_u64(out + 24, static_cast<std::uint64_t>(entry.state.change_time));
  put_u64(out + 32, static_cast<std::uint64_t>(entry.state.modify_time));
  put_u32(out + 40, static_cast<std::uint32_t>(entry.state.size));
  out[44] = static_cast<char>(entry.age);
  out[45] = out[46] = out[47] = 0;
}

StateEntry decode_entry(const char* in) {
  StateEntry entry;
  entry.name_hash = get_u64(in);
  entry.line_hash = get_u64(in + 8);
  entry.state.inode = get_u64(in + 16);
  entry.state.change_time = static_cast<std::int64_t>(get_u64(in + 24));
  entry.state.modify_time = static_cast<std::int64_t>(get_u64(in + 32));
  entry.state.size = get_u32(in + 40);
  entry.state.regular = true;
  entry.age = static_cast<std::uint8_t>(in[44]);
  return entry;
}

void start_file_states(FileStates& states, const platform::FileState& folder,
                       StateSource source, StateSink sink) {
  states.folder = folder;
  char header[HEADER_SIZE];
  std::memcpy(header, MAGIC, sizeof MAGIC);
  put_u32(header + 8, STATES_VERSION);
  put_u32(header + 12, ENTRY_SIZE);
  put_u64(header + 16, folder.device);
  put_u64(header + 24, folder.inode);
  if (sink.write != nullptr) {
    states.sink = sink;
    states.recording = true;
    states.out_block.resize(BLOCK_CAPACITY);
    write_out(states, header, HEADER_SIZE);
  }
  if (source.read == nullptr) return;
  char found[HEADER_SIZE];
  states.source = source;
  if (read_fully(source, found, HEADER_SIZE) != HEADER_SIZE ||
      std::memcmp(found, header, HEADER_SIZE) != 0)
    return;
  states.reading = true;
  states.source_ended = false;
  states.in_block.resize(BLOCK_CAPACITY);
  states.ring = std::make_unique<StateEntry[]>(WINDOW);
  states.used = std::make_unique<bool[]>(WINDOW);
  states.slots = std::make_unique<std::uint32_t[]>(SLOTS);
}

std::uint64_t file_name_hash(std::string_view name) {
  return bytes_hash(name.data(), name.size(), 0);
}

bool take_file_state(FileStates& states, std::uint64_t name_hash,
                     StateEntry& entry) {
  if (!states.reading) return false;
  bool found = false;
  if (const std::uint64_t at = find_in_window(states, name_hash);
      at != states.next) {
    remove_slot(states, ring_index(at));
    entry = take(states, at);
    found = true;
  }
  // Read on while the window has room, but not past the entry sought.
  while (!found && states.next - states.first < WINDOW) {
    StateEntry read;
    if (!read_entry(states, read)) break;
    const std::size_t index = ring_index(states.next);
    states.ring[index] = read;
    states.used[index] = false;
    if (read.name_hash == name_hash) {
      entry = take(states, states.next++);
      found = true;
    } else {
      insert_slot(states, index);
      ++states.next;
    }
  }
  advance_first(states);
  return found;
}

KnownState known_state(FileStates& states, std::string_view name,
                       const char* line, std::size_t size) {
  KnownState known;
  if (!states.reading && !states.recording) return known;
  known.entry.name_hash = file_name_hash(name);
  known.entry.line_hash = bytes_hash(line, size, 0);
  StateEntry last;
  if (take_file_state(states, known.entry.name_hash, last))
    known.held = last.line_hash == known.entry.line_hash &&
                 last.state.size == size;
  if (known.held) known.entry.state = last.state;
  return known;
}

bool settled(const platform::FileState& state,
             const platform::FileState& folder, std::size_t line_size) {
  return state.regular && state.device == folder.device &&
         state.size == line_size &&
         state.change_time < state.seen_at - UNSETTLED &&
         state.modify_time < state.seen_at - UNSETTLED;
}

void record_file_state(FileStates& states, const StateEntry& entry) {
  if (!states.recording) return;
  encode_entry(entry, states.out_block.data() + BLOCK_HEAD +
                          states.out_count * ENTRY_SIZE);
  ++states.recorded;
  if (++states.out_count == BLOCK_ENTRIES) flush_block(states);
}

bool end_file_states(FileStates& states, bool complete) {
  if (!states.recording) return false;
  if (complete && states.reading) {
    for (; states.first < states.next; ++states.first) {
      const std::size_t index = ring_index(states.first);
      if (!states.used[index]) carry(states, states.ring[index]);
    }
    StateEntry entry;
    while (read_entry(states, entry)) carry(states, entry);
  }
  flush_block(states);
  states.recording = false;
  return complete && !states.sink_failed;
}

}  // namespace orbelm
