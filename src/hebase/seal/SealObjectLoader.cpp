#include "hebase/seal/SealObjectLoader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <istream>
#include <limits>
#include <memory>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>

#include <seal/ciphertext.h>
#include <seal/context.h>
#include <seal/encryptionparams.h>
#include <seal/galoiskeys.h>
#include <seal/plaintext.h>
#include <seal/publickey.h>
#include <seal/relinkeys.h>
#include <seal/secretkey.h>
#include <seal/serialization.h>
#include <seal/util/common.h>
#include <seal/util/config.h>
#include <seal/util/defines.h>

#ifdef SEAL_USE_ZLIB
#include <zlib.h>
#endif
#ifdef SEAL_USE_ZSTD
#include <zstd.h>
#endif

namespace quorvane {

namespace {

using SealHeader = seal::Serialization::SEALHeader;
using Byte = seal::seal_byte;

constexpr uint64_t HEADER_BYTES = sizeof(SealHeader);
// Bytes read or decompressed at a time: a declared size is never allocated
// before the bytes it announces have arrived.
constexpr uint64_t CHUNK_BYTES = uint64_t(1) << 20;

// Fixed parts of SEAL's serialized members.
constexpr uint64_t PARMS_ID_BYTES = 32;
// Parameter id, NTT flag, polynomial count, degree, prime count, scale.
constexpr uint64_t CIPHERTEXT_FIXED_BYTES = PARMS_ID_BYTES + 1 + 3 * 8 + 8;
// Parameter id, coefficient count, scale.
constexpr uint64_t PLAINTEXT_FIXED_BYTES = PARMS_ID_BYTES + 8 + 8;
// Scheme, degree, prime count.
constexpr uint64_t PARMS_FIXED_BYTES = 1 + 8 + 8;
// Parameter id, key set count.
constexpr uint64_t KSWITCH_FIXED_BYTES = PARMS_ID_BYTES + 8;
// A nested modulus: header and value.
constexpr uint64_t MODULUS_BYTES = HEADER_BYTES + 8;

/// Bytes of a nested array of count 64-bit words: header, count, words.
uint64_t wordArrayBytes(uint64_t count) { return HEADER_BYTES + 8 + 8 * count; }

[[noreturn]] void corrupted(const std::string& what, const std::string& problem)
{
  throw std::runtime_error("Corrupted saved " + what + ": " + problem);
}

std::string str(uint64_t value) { return std::to_string(value); }

/// A growing byte buffer; one that holds secret-key material zeroes its
/// memory when it lets it go.
class RecordBuffer
{
public:
  explicit RecordBuffer(bool secret) : secret(secret) {}
  RecordBuffer(const RecordBuffer&) = delete;
  RecordBuffer& operator=(const RecordBuffer&) = delete;
  ~RecordBuffer() { release(); }

  bool isSecret() const { return secret; }

  Byte* data() { return bytes.get(); }
  const Byte* data() const { return bytes.get(); }
  uint64_t size() const { return used; }

  /// Grows or shrinks the used size; kept bytes stay. Growth at least doubles
  /// the capacity, but never beyond limit (when that is at least size).
  void resize(uint64_t size, uint64_t limit = 0)
  {
    if (size > capacity) {
      uint64_t grownCapacity = std::max(size, std::min(2 * capacity, limit));
      std::unique_ptr<Byte[]> grown(new Byte[grownCapacity]);
      if (used > 0)
        std::memcpy(grown.get(), bytes.get(), used);
      release();
      bytes = std::move(grown);
      capacity = grownCapacity;
    }
    used = size;
  }

private:
  void release()
  {
    if (bytes && secret)
      seal::util::seal_memzero(bytes.get(), capacity);
    bytes.reset();
    capacity = 0;
  }

  bool secret;
  std::unique_ptr<Byte[]> bytes;
  uint64_t capacity = 0;
  uint64_t used = 0;
};

/// Reads up to size bytes; returns how many arrived. A stream that throws on
/// failure reports the shortfall the same way.
uint64_t readSome(std::istream& in, Byte* data, uint64_t size)
{
  try {
    in.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(size));
  } catch (const std::ios_base::failure&) {
  }
  return static_cast<uint64_t>(in.gcount());
}

/// The bytes left in a stream that can tell (without changing its
/// position), or -1.
int64_t bytesLeft(std::istream& in)
{
  std::streambuf* buffer = in.rdbuf();
  if (buffer == nullptr || !in.good())
    return -1;
  std::streampos here = buffer->pubseekoff(0, std::ios::cur, std::ios::in);
  if (here == std::streampos(-1))
    return -1;
  std::streampos end = buffer->pubseekoff(0, std::ios::end, std::ios::in);
  buffer->pubseekpos(here, std::ios::in);
  if (end == std::streampos(-1) || end < here)
    return -1;
  return static_cast<int64_t>(end - here);
}

/// Reads exactly size bytes into out from offset: at once when the stream
/// tells that it holds them, otherwise chunk by chunk, so that nothing is
/// allocated for bytes that never arrive.
void readChunks(std::istream& in, RecordBuffer& out, uint64_t offset, uint64_t size,
                const std::string& what, uint64_t declared)
{
  int64_t left = bytesLeft(in);
  if (left >= 0 && static_cast<uint64_t>(left) >= size)
    out.resize(offset + size);
  uint64_t done = 0;
  while (done < size) {
    uint64_t step = std::min(CHUNK_BYTES, size - done);
    out.resize(offset + done + step, offset + size);
    uint64_t got = readSome(in, out.data() + offset + done, step);
    done += got;
    if (got < step) {
      out.resize(offset + done);
      corrupted(what, "it declares " + str(declared) + " bytes, but the input ends after " +
                          str(HEADER_BYTES + done));
    }
  }
}

/// Thrown when compressed data expands beyond its bound; the bytes produced
/// so far stay in the output buffer.
struct ExpandsTooFar : std::runtime_error
{
  using std::runtime_error::runtime_error;
};

[[noreturn]] void expandsTooFar(const std::string& what, uint64_t maxBytes)
{
  throw ExpandsTooFar("Corrupted saved " + what + ": its compressed data expands beyond the " +
                      str(maxBytes) + " bytes such an object takes under these parameters");
}

/// The object being read and how SEAL's refusals of it are worded: after
/// "Corrupted saved <what>: ", except for the texts that the loads of
/// ciphertexts, plaintexts and secret keys give as SEAL words them.
///
/// What tells a well-formed object of other parameters from a corrupted one:
/// every object loaded against a context begins with its parameter id, and
/// SEAL refuses one whose id the context does not know.
struct SealObject
{
  std::string what;
  const seal::SEALContext* context = nullptr;
  /// SEAL's refusal of data that is not valid for the context's parameters.
  const char* invalidText = nullptr;
  /// Data of other parameters is refused with invalidText alone.
  bool otherParametersInSealWords = false;
  /// SEAL's refusals of its own header stand alone.
  bool headerRefusalsInSealWords = false;

  [[noreturn]] void refuse(const std::string& sealText, bool inSealWords) const
  {
    if (inSealWords)
      throw std::logic_error(sealText);
    corrupted(what, sealText);
  }

  /// Reads into id the parameter id the bytes begin with; false when the
  /// object is not read against a context or the bytes are too few.
  bool leadingParmsId(const Byte* bytes, uint64_t size, seal::parms_id_type& id) const
  {
    if (context == nullptr || size < PARMS_ID_BYTES)
      return false;
    std::memcpy(id.data(), bytes, PARMS_ID_BYTES);
    return true;
  }

  /// Refuses the object when the bytes begin with a parameter id (not the
  /// zero id) that the context does not know.
  void refuseOtherParameters(const Byte* bytes, uint64_t size) const
  {
    seal::parms_id_type id;
    if (leadingParmsId(bytes, size, id) && id != seal::parms_id_zero &&
        !context->get_context_data(id))
      refuse(invalidText, otherParametersInSealWords);
  }

  /// Whether the bytes begin with the zero parameter id: an object made
  /// under no parameters, which SEAL refuses as data not valid for them
  /// unless it is empty.
  bool hasNoParameters(const Byte* bytes, uint64_t size) const
  {
    seal::parms_id_type id;
    return leadingParmsId(bytes, size, id) && id == seal::parms_id_zero;
  }
};

#ifdef SEAL_USE_ZSTD
/// Decompresses a Zstandard frame into out from offset, at most maxBytes;
/// returns the decompressed size.
uint64_t inflateZstd(const std::string& what, const RecordBuffer& packed, RecordBuffer& out,
                     uint64_t offset, uint64_t maxBytes)
{
  std::unique_ptr<ZSTD_DStream, size_t (*)(ZSTD_DStream*)> stream(ZSTD_createDStream(),
                                                                   &ZSTD_freeDStream);
  if (!stream || ZSTD_isError(ZSTD_initDStream(stream.get())))
    throw std::bad_alloc();
  ZSTD_inBuffer input{packed.data(), static_cast<size_t>(packed.size()), 0};
  uint64_t produced = 0;
  for (;;) {
    uint64_t room = std::min(CHUNK_BYTES, maxBytes + 1 - produced);
    out.resize(offset + produced + room, offset + maxBytes + 1);
    ZSTD_outBuffer output{out.data() + offset + produced, static_cast<size_t>(room), 0};
    size_t status = ZSTD_decompressStream(stream.get(), &output, &input);
    if (ZSTD_isError(status))
      corrupted(what, std::string("its compressed data is invalid (") +
                          ZSTD_getErrorName(status) + ")");
    produced += output.pos;
    if (produced > maxBytes)
      expandsTooFar(what, maxBytes);
    if (status == 0) {
      if (input.pos != input.size)
        corrupted(what, "bytes follow the end of its compressed data");
      break;
    }
    if (input.pos == input.size && output.pos < output.size)
      corrupted(what, "its compressed data ends before it is complete");
  }
  out.resize(offset + produced);
  return produced;
}
#endif

#ifdef SEAL_USE_ZLIB
/// Decompresses a zlib stream into out from offset, at most maxBytes;
/// returns the decompressed size.
uint64_t inflateZlib(const std::string& what, const RecordBuffer& packed, RecordBuffer& out,
                     uint64_t offset, uint64_t maxBytes)
{
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK)
    throw std::bad_alloc();
  std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&stream, &inflateEnd);
  uint64_t fed = 0;
  uint64_t produced = 0;
  for (;;) {
    if (stream.avail_in == 0 && fed < packed.size()) {
      uint64_t step = std::min(CHUNK_BYTES, packed.size() - fed);
      stream.next_in = const_cast<Bytef*>(reinterpret_cast<const Bytef*>(packed.data() + fed));
      stream.avail_in = static_cast<uInt>(step);
      fed += step;
    }
    uint64_t room = std::min(CHUNK_BYTES, maxBytes + 1 - produced);
    out.resize(offset + produced + room, offset + maxBytes + 1);
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + offset + produced);
    stream.avail_out = static_cast<uInt>(room);
    int status = inflate(&stream, Z_NO_FLUSH);
    produced += room - stream.avail_out;
    if (produced > maxBytes)
      expandsTooFar(what, maxBytes);
    if (status == Z_STREAM_END) {
      if (stream.avail_in != 0 || fed != packed.size())
        corrupted(what, "bytes follow the end of its compressed data");
      break;
    }
    if (status == Z_BUF_ERROR && stream.avail_in == 0 && fed == packed.size())
      corrupted(what, "its compressed data ends before it is complete");
    if (status != Z_OK && status != Z_BUF_ERROR)
      corrupted(what, "its compressed data is invalid");
  }
  out.resize(offset + produced);
  return produced;
}
#endif

/// Decompresses at most size leading bytes of a compressed body that may be
/// cut short; returns how many came out (fewer when the data ends or is
/// invalid first).
uint64_t inflatePrefix(seal::compr_mode_type mode, const Byte* packed, uint64_t packedSize,
                       Byte* out, uint64_t size)
{
  switch (mode) {
#ifdef SEAL_USE_ZSTD
  case seal::compr_mode_type::zstd: {
    std::unique_ptr<ZSTD_DStream, size_t (*)(ZSTD_DStream*)> stream(ZSTD_createDStream(),
                                                                     &ZSTD_freeDStream);
    if (!stream || ZSTD_isError(ZSTD_initDStream(stream.get())))
      return 0;
    ZSTD_inBuffer input{packed, static_cast<size_t>(packedSize), 0};
    ZSTD_outBuffer output{out, static_cast<size_t>(size), 0};
    while (output.pos < output.size) {
      size_t before = input.pos + output.pos;
      size_t status = ZSTD_decompressStream(stream.get(), &output, &input);
      if (ZSTD_isError(status) || status == 0 || input.pos + output.pos == before)
        break;
    }
    return output.pos;
  }
#endif
#ifdef SEAL_USE_ZLIB
  case seal::compr_mode_type::zlib: {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
      return 0;
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&stream, &inflateEnd);
    stream.next_in = const_cast<Bytef*>(reinterpret_cast<const Bytef*>(packed));
    stream.avail_in = static_cast<uInt>(std::min<uint64_t>(packedSize, CHUNK_BYTES));
    stream.next_out = reinterpret_cast<Bytef*>(out);
    stream.avail_out = static_cast<uInt>(size);
    inflate(&stream, Z_SYNC_FLUSH);
    return size - stream.avail_out;
  }
#endif
  default:
    return 0;
  }
}

/// Reads the leading parameter id of an object whose declared size is too
/// large for this context, and refuses the object as SEAL does when the id
/// names other parameters. Reads at most one chunk of the input.
void probeOversizedObject(std::istream& in, const SealObject& object, bool compressed,
                          seal::compr_mode_type mode, uint64_t stored)
{
  if (object.context == nullptr)
    return;
  Byte id[PARMS_ID_BYTES];
  if (!compressed) {
    object.refuseOtherParameters(id, readSome(in, id, std::min(stored, PARMS_ID_BYTES)));
    return;
  }
  uint64_t want = std::min(stored, CHUNK_BYTES);
  std::unique_ptr<Byte[]> packed(new Byte[want]);
  uint64_t got = readSome(in, packed.get(), want);
  object.refuseOtherParameters(id, inflatePrefix(mode, packed.get(), got, id, PARMS_ID_BYTES));
}

/// Decompresses the stored body by the header's mode into out from offset.
uint64_t decompress(const std::string& what, seal::compr_mode_type mode,
                    const RecordBuffer& packed, RecordBuffer& out, uint64_t offset,
                    uint64_t maxBytes)
{
  switch (mode) {
#ifdef SEAL_USE_ZSTD
  case seal::compr_mode_type::zstd:
    return inflateZstd(what, packed, out, offset, maxBytes);
#endif
#ifdef SEAL_USE_ZLIB
  case seal::compr_mode_type::zlib:
    return inflateZlib(what, packed, out, offset, maxBytes);
#endif
  default:
    corrupted(what, "its compression mode is not supported");
  }
}

/// One SEAL object read from the input: an uncompressed serialization
/// (header, then members) for SEAL's memory load.
struct Record
{
  explicit Record(bool secret) : blob(secret) {}

  RecordBuffer blob;
  std::streamoff consumed = 0;

  const Byte* body() const { return blob.data() + HEADER_BYTES; }
  uint64_t bodySize() const { return blob.size() - HEADER_BYTES; }
};

/// Reads one SEAL object whose members take at most maxBody bytes
/// uncompressed, checking its header and sizes on the way.
void readRecord(std::istream& in, const SealObject& object, uint64_t maxBody, Record& record)
{
  const std::string& what = object.what;
  Byte headerBytes[HEADER_BYTES];
  uint64_t got = readSome(in, headerBytes, HEADER_BYTES);
  if (got < HEADER_BYTES)
    corrupted(what, "the input ends after " + str(got) + " bytes, inside its " +
                        str(HEADER_BYTES) + "-byte SEAL header");
  SealHeader header;
  seal::Serialization::LoadHeader(headerBytes, HEADER_BYTES, header, true);
  // SEAL's own refusals, as its loads word them.
  if (!seal::Serialization::IsCompatibleVersion(header))
    object.refuse("incompatible version", object.headerRefusalsInSealWords);
  if (!seal::Serialization::IsValidHeader(header))
    object.refuse("loaded SEALHeader is invalid", object.headerRefusalsInSealWords);
  if (header.size < HEADER_BYTES)
    corrupted(what, "it declares " + str(header.size) + " bytes, fewer than its header");
  uint64_t stored = header.size - HEADER_BYTES;
  bool compressed = header.compr_mode != seal::compr_mode_type::none;
  uint64_t maxStored =
      compressed ? seal::Serialization::ComprSizeEstimate(maxBody, header.compr_mode) : maxBody;
  if (stored > maxStored) {
    probeOversizedObject(in, object, compressed, header.compr_mode, stored);
    corrupted(what, "it declares " + str(header.size) + " bytes, more than the " +
                        str(HEADER_BYTES + maxStored) +
                        " bytes such an object takes under these parameters");
  }

  uint64_t bodySize = stored;
  if (!compressed) {
    readChunks(in, record.blob, HEADER_BYTES, stored, what, header.size);
  } else {
    RecordBuffer packed(record.blob.isSecret());
    readChunks(in, packed, 0, stored, what, header.size);
    try {
      bodySize =
          decompress(what, header.compr_mode, packed, record.blob, HEADER_BYTES, maxBody);
    } catch (const ExpandsTooFar&) {
      object.refuseOtherParameters(record.body(), record.bodySize());
      throw;
    }
  }
  record.blob.resize(HEADER_BYTES + bodySize);
  SealHeader plain = header;
  plain.compr_mode = seal::compr_mode_type::none;
  plain.size = HEADER_BYTES + bodySize;
  seal::Serialization::SaveHeader(plain, record.blob.data(), HEADER_BYTES);
  record.consumed = static_cast<std::streamoff>(header.size);
}

/// Walks SEAL's serialized members, checking every size field against the
/// bytes that follow it.
class Cursor
{
public:
  Cursor(const std::string& what, const Byte* data, uint64_t size)
      : what(what), data(data), size(size)
  {
  }

  uint64_t remaining() const { return size - pos; }

  /// An 8-byte field: a count or a scale.
  template <typename T>
  T field(const char* name)
  {
    static_assert(sizeof(T) == 8, "SEAL's counts and scales take 8 bytes");
    need(8, name);
    T value;
    std::memcpy(&value, data + pos, 8);
    pos += 8;
    return value;
  }

  uint64_t word(const char* name) { return field<uint64_t>(name); }
  double real(const char* name) { return field<double>(name); }

  void skip(uint64_t count, const char* field)
  {
    need(count, field);
    pos += count;
  }

  /// A nested, uncompressed SEAL object; returns a cursor over its members.
  Cursor nested(const char* field)
  {
    need(HEADER_BYTES, field);
    SealHeader header;
    seal::Serialization::LoadHeader(data + pos, HEADER_BYTES, header, false);
    if (!seal::Serialization::IsValidHeader(header) ||
        header.compr_mode != seal::compr_mode_type::none)
      fail(std::string(field) + " has an invalid SEAL header");
    if (header.size < HEADER_BYTES || header.size > remaining())
      fail(std::string(field) + " declares " + str(header.size) + " bytes, but " +
           str(remaining()) + " remain");
    Cursor inner(what, data + pos + HEADER_BYTES, header.size - HEADER_BYTES);
    pos += header.size;
    return inner;
  }

  void expectEnd(const char* field) const
  {
    if (pos != size)
      fail(str(remaining()) + " unexpected bytes follow " + field);
  }

  [[noreturn]] void fail(const std::string& problem) const { corrupted(what, problem); }

private:
  void need(uint64_t count, const char* field) const
  {
    if (count > remaining())
      fail(std::string("it ends inside ") + field);
  }

  const std::string& what;
  const Byte* data;
  uint64_t size;
  uint64_t pos = 0;
};

void checkAtMost(const Cursor& c, const char* field, uint64_t value, uint64_t max)
{
  if (value > max)
    c.fail(std::string(field) + " is " + str(value) + ", more than " + str(max));
}

/// A nested array that must hold exactly count words.
void checkWordArray(Cursor& c, uint64_t count, const char* field)
{
  Cursor array = c.nested(field);
  uint64_t stored = array.word("the word count");
  if (stored != count)
    array.fail(std::string(field) + " holds " + str(stored) + " words where " + str(count) +
               " are declared");
  if (array.remaining() / 8 < count || array.remaining() != 8 * count)
    array.fail(std::string(field) + " declares " + str(count) + " words but carries " +
               str(array.remaining()) + " bytes");
}

/// SEAL checks a scale against the modulus through an integer conversion of
/// its logarithm, which is undefined for a scale that is not a number.
void checkScale(const Cursor& c, double scale)
{
  if (std::isfinite(scale) && scale > 0)
    return;
  std::ostringstream text;
  text << scale;
  c.fail("the scale is " + text.str() + ", expected a finite positive value");
}

void checkCiphertext(Cursor& c)
{
  c.skip(PARMS_ID_BYTES, "the parameter id");
  c.skip(1, "the NTT flag");
  uint64_t polys = c.word("the polynomial count");
  uint64_t degree = c.word("the polynomial degree");
  uint64_t primes = c.word("the prime count");
  checkScale(c, c.real("the scale"));
  checkAtMost(c, "the polynomial count", polys, SEAL_CIPHERTEXT_SIZE_MAX);
  checkAtMost(c, "the polynomial degree", degree, SEAL_POLY_MOD_DEGREE_MAX);
  checkAtMost(c, "the prime count", primes, SEAL_COEFF_MOD_COUNT_MAX);
  checkWordArray(c, polys * degree * primes, "the coefficient array");
  c.expectEnd("the coefficient array");
}

void checkPlaintext(Cursor& c)
{
  c.skip(PARMS_ID_BYTES, "the parameter id");
  uint64_t count = c.word("the coefficient count");
  checkScale(c, c.real("the scale"));
  checkWordArray(c, count, "the coefficient array");
  c.expectEnd("the coefficient array");
}

/// Key-switching keys: at most maxSets key sets, of which at most maxFilled
/// hold keys, each at most maxPerSet ciphertexts.
void checkKeySets(Cursor& c, uint64_t maxSets, uint64_t maxFilled, uint64_t maxPerSet)
{
  c.skip(PARMS_ID_BYTES, "the parameter id");
  uint64_t sets = c.word("the key set count");
  checkAtMost(c, "the key set count", sets, maxSets);
  uint64_t filled = 0;
  for (uint64_t i = 0; i < sets; i++) {
    uint64_t keys = c.word("a key count");
    checkAtMost(c, "a key count", keys, maxPerSet);
    if (keys > 0 && ++filled > maxFilled)
      c.fail("more than " + str(maxFilled) + " key sets hold keys");
    for (uint64_t j = 0; j < keys; j++) {
      Cursor key = c.nested("a key");
      checkCiphertext(key);
    }
  }
  c.expectEnd("the last key set");
}

void checkParameters(Cursor& c)
{
  c.skip(1, "the scheme");
  uint64_t degree = c.word("the polynomial degree");
  uint64_t primes = c.word("the prime count");
  checkAtMost(c, "the polynomial degree", degree, SEAL_POLY_MOD_DEGREE_MAX);
  checkAtMost(c, "the prime count", primes, SEAL_COEFF_MOD_COUNT_MAX);
  // The coefficient primes, then the plaintext modulus.
  for (uint64_t i = 0; i <= primes; i++) {
    Cursor modulus = c.nested("a modulus");
    modulus.skip(8, "a modulus value");
    modulus.expectEnd("a modulus value");
  }
  c.expectEnd("the plaintext modulus");
}

/// Sizes of the context's key level.
struct KeyLevel
{
  uint64_t degree;
  uint64_t primes;
  /// Primes of the highest data level (the key level less its special prime).
  uint64_t dataPrimes;
  /// One public key or key-switching key: a nested ciphertext of two polynomials.
  uint64_t keyBytes;
};

KeyLevel keyLevel(const seal::SEALContext& context)
{
  auto data = context.key_context_data();
  if (!data)
    throw std::runtime_error("HE context has not been initialized yet");
  KeyLevel level;
  level.degree = data->parms().poly_modulus_degree();
  level.primes = data->parms().coeff_modulus().size();
  level.dataPrimes = std::max<uint64_t>(level.primes - 1, 1);
  level.keyBytes =
      HEADER_BYTES + CIPHERTEXT_FIXED_BYTES + wordArrayBytes(2 * level.degree * level.primes);
  return level;
}

/// Reads and checks one SEAL object (check walks its members), then loads it
/// into target with SEAL's own load (given the context, when it takes one).
/// Data of other parameters is refused before SEAL reads it; what SEAL
/// refuses after that is a corruption of the object.
template <typename Check, typename Target, typename... Context>
std::streamoff loadChecked(std::istream& in, const SealObject& object, uint64_t maxBody,
                           Check check, Target& target, const Context&... context)
{
  Record record(std::is_same<Target, seal::SecretKey>::value);
  readRecord(in, object, maxBody, record);
  Cursor cursor(object.what, record.body(), record.bodySize());
  check(cursor);
  object.refuseOtherParameters(record.body(), record.bodySize());
  try {
    target.load(context..., record.blob.data(), static_cast<size_t>(record.blob.size()));
  } catch (const std::logic_error& e) {
    if (object.otherParametersInSealWords &&
        object.hasNoParameters(record.body(), record.bodySize()))
      throw std::logic_error(object.invalidText);
    corrupted(object.what, e.what());
  } catch (const std::runtime_error& e) {
    corrupted(object.what, e.what());
  }
  return record.consumed;
}

/// An object read against a context: its load names it in SEAL's refusals,
/// data of other parameters included.
SealObject keyObject(const char* what, const seal::SEALContext& context, const char* invalidText)
{
  return SealObject{what, &context, invalidText, false, false};
}

/// An object whose load gives SEAL's own texts for data of other parameters
/// (and, when headerTexts, for SEAL's header refusals).
SealObject sealWordedObject(const char* what, const seal::SEALContext& context,
                            const char* invalidText, bool headerTexts)
{
  return SealObject{what, &context, invalidText, true, headerTexts};
}

} // namespace

std::streamoff SealObjectLoader::loadParameters(std::istream& in,
                                                seal::EncryptionParameters& parms)
{
  const uint64_t maxBody = PARMS_FIXED_BYTES + (SEAL_COEFF_MOD_COUNT_MAX + 1) * MODULUS_BYTES;
  return loadChecked(in, SealObject{"SEAL parameters"}, maxBody, checkParameters, parms);
}

std::streamoff SealObjectLoader::loadPublicKey(std::istream& in, const seal::SEALContext& context,
                                               seal::PublicKey& key)
{
  KeyLevel level = keyLevel(context);
  return loadChecked(in, keyObject("SEAL public key", context, "PublicKey data is invalid"),
                     level.keyBytes - HEADER_BYTES, checkCiphertext, key, context);
}

std::streamoff SealObjectLoader::loadSecretKey(std::istream& in, const seal::SEALContext& context,
                                               seal::SecretKey& key)
{
  KeyLevel level = keyLevel(context);
  uint64_t maxBody = PLAINTEXT_FIXED_BYTES + wordArrayBytes(level.degree * level.primes);
  return loadChecked(
      in, sealWordedObject("SEAL secret key", context, "SecretKey data is invalid", false),
      maxBody, checkPlaintext, key, context);
}

std::streamoff SealObjectLoader::loadRelinKeys(std::istream& in, const seal::SEALContext& context,
                                               seal::RelinKeys& keys)
{
  KeyLevel level = keyLevel(context);
  uint64_t perSet = level.primes - 1;
  uint64_t maxBody = KSWITCH_FIXED_BYTES + 8 + perSet * level.keyBytes;
  auto check = [&](Cursor& c) { checkKeySets(c, 1, 1, perSet); };
  return loadChecked(
      in, keyObject("SEAL relinearization keys", context, "KSwitchKeys data is invalid"), maxBody,
      check, keys, context);
}

std::streamoff SealObjectLoader::loadGaloisKeys(std::istream& in,
                                                const seal::SEALContext& context,
                                                size_t maxKeyCount, seal::GaloisKeys& keys)
{
  KeyLevel level = keyLevel(context);
  uint64_t perSet = level.primes - 1;
  // One set per Galois element index, of which maxKeyCount hold keys.
  uint64_t maxBody =
      KSWITCH_FIXED_BYTES + 8 * level.degree + maxKeyCount * perSet * level.keyBytes;
  auto check = [&](Cursor& c) { checkKeySets(c, level.degree, maxKeyCount, perSet); };
  return loadChecked(in, keyObject("SEAL Galois keys", context, "KSwitchKeys data is invalid"),
                     maxBody, check, keys, context);
}

std::streamoff SealObjectLoader::loadCiphertext(std::istream& in,
                                                const seal::SEALContext& context,
                                                seal::Ciphertext& ciphertext)
{
  KeyLevel level = keyLevel(context);
  uint64_t maxBody = CIPHERTEXT_FIXED_BYTES +
                     wordArrayBytes(SEAL_CIPHERTEXT_SIZE_MAX * level.degree * level.dataPrimes);
  return loadChecked(
      in, sealWordedObject("SEAL ciphertext", context, "ciphertext data is invalid", true),
      maxBody, checkCiphertext, ciphertext, context);
}

std::streamoff SealObjectLoader::loadPlaintext(std::istream& in, const seal::SEALContext& context,
                                               seal::Plaintext& plaintext)
{
  KeyLevel level = keyLevel(context);
  uint64_t maxBody = PLAINTEXT_FIXED_BYTES + wordArrayBytes(level.degree * level.dataPrimes);
  return loadChecked(
      in, sealWordedObject("SEAL plaintext", context, "Plaintext data is invalid", true), maxBody,
      checkPlaintext, plaintext, context);
}

} // namespace quorvane
