// The exception hierarchy: every failure the system reports itself.
//
// An exception lives in a mem_pool and is owned through sh_ptr<Exception>;
// that sh_ptr value is what is thrown and caught, never the object itself.
// Its pool is the pool of its `nested` reference's control block (an
// exception without a cause gets an empty `nested` made in the given pool);
// its texts are copies in that pool, and every text it produces later
// (className, toText) is made there too. The object lives as long as any
// sh_ptr refers to it: the thrown value, a handler's copy, or the `nested`
// reference of a later exception. The last one calls destroy(pool), which
// releases the texts and the cause and returns the storage with the size of
// the concrete class. Exceptions never change after construction, so their
// fields are public constants.
//
//   Exception                 a failure with a message
//     MsgException            (abstract) a message for the user, as it is
//       ExitMsgException      print the message and exit with exitCode
//     ErrorException          with a library error code (error_codes.h)
//       FileErrorException    with the name of the file concerned
//     ExternException         (abstract) wraps a foreign exception
//       StdExternException    a std::exception: its type name and what()
//       UnknExternException   anything else; typeName "unknown"
//
// Raise with a factory at the failing statement:
//   throw newFileErrorException(pool, KOVA_SRC_POS, "Can't open file", code, name);
// Everything here may throw std::bad_alloc from the pool, and nothing else;
// a factory that fails has given back all it took.
#pragma once

#include <cstdint>

#include "kova/destroy.h"
#include "kova/mem_pool.h"
#include "kova/mp_string.h"
#include "kova/sh_ptr.h"
#include "kova/shared_text.h"

namespace kova {

// Where an exception was raised. `path` is not copied: it is a literal that
// lives as long as the program.
struct src_pos {
  const char* path;
  std::int32_t line;
};

}  // namespace kova

// The position of the statement that uses it.
#define KOVA_SRC_POS (::kova::src_pos{__FILE__, __LINE__})

namespace kova {

// NOTE: inside these classes the name src_pos is the member; the type is
// written kova::src_pos.

class Exception : public destroyable {
 public:
  // `message` is copied into the pool of `nested`.
  Exception(const kova::src_pos& pos, ch_range message, const sh_ptr<Exception>& nested);
  ~Exception() override;
  Exception(const Exception&) = delete;
  Exception& operator=(const Exception&) = delete;

  void destroy(mem_pool& pool) noexcept override;

  // The qualified class name, as a new text in the exception's pool.
  virtual sh_str className() const;
  // The one-line text form, as a new text in the exception's pool. Nested
  // exceptions are not included (see chainText).
  virtual sh_str toText() const;

  const kova::src_pos src_pos;
  // Declared before `nested`, so that the cause is released first.
  const sh_str message;
  // Never null as a reference; holds no exception when there is no cause.
  const sh_ptr<Exception> nested;

 protected:
  // className(), " [", path, ":", line: the start of every text form, with
  // room for 1024 characters.
  sh_str textHead() const;
};

class MsgException : public Exception {
 public:
  MsgException(const kova::src_pos& pos, ch_range message, const sh_ptr<Exception>& nested);
  ~MsgException() override;
  sh_str className() const override = 0;
};

class ExitMsgException : public MsgException {
 public:
  ExitMsgException(const kova::src_pos& pos, ch_range message, int exitCode,
                   const sh_ptr<Exception>& nested);
  ~ExitMsgException() override;
  void destroy(mem_pool& pool) noexcept override;
  sh_str className() const override;
  sh_str toText() const override;

  const std::int32_t exitCode;
};

class ErrorException : public Exception {
 public:
  ErrorException(const kova::src_pos& pos, ch_range message, int errorCode,
                 const sh_ptr<Exception>& nested);
  ~ErrorException() override;
  void destroy(mem_pool& pool) noexcept override;
  sh_str className() const override;
  sh_str toText() const override;

  // A library error code (error_codes.h).
  const std::int32_t errorCode;
};

class FileErrorException : public ErrorException {
 public:
  FileErrorException(const kova::src_pos& pos, ch_range message, int errorCode, ch_range fileName,
                     const sh_ptr<Exception>& nested);
  ~FileErrorException() override;
  void destroy(mem_pool& pool) noexcept override;
  sh_str className() const override;
  sh_str toText() const override;

  const sh_str fileName;
};

class ExternException : public Exception {
 public:
  ExternException(const kova::src_pos& pos, ch_range message, ch_range typeName,
                  const sh_ptr<Exception>& nested);
  ~ExternException() override;
  sh_str className() const override = 0;
  sh_str toText() const override;

  // The foreign exception's type.
  const sh_str typeName;
};

class StdExternException : public ExternException {
 public:
  StdExternException(const kova::src_pos& pos, ch_range message, ch_range typeName,
                     const sh_ptr<Exception>& nested);
  ~StdExternException() override;
  void destroy(mem_pool& pool) noexcept override;
  sh_str className() const override;
};

class UnknExternException : public ExternException {
 public:
  // typeName is always "unknown".
  UnknExternException(const kova::src_pos& pos, ch_range message, const sh_ptr<Exception>& nested);
  ~UnknExternException() override;
  void destroy(mem_pool& pool) noexcept override;
  sh_str className() const override;
};

// Factories. The pool variant gives the exception an empty `nested` in
// `pool`; the nested variant lives in the pool of the cause's reference.
// Both return the only reference to the new exception.
sh_ptr<Exception> newException(mem_pool& pool, const src_pos& pos, ch_range message);
sh_ptr<Exception> newException(const src_pos& pos, ch_range message,
                               const sh_ptr<Exception>& nested);

sh_ptr<Exception> newErrorException(mem_pool& pool, const src_pos& pos, ch_range message,
                                    int errorCode);
sh_ptr<Exception> newErrorException(const src_pos& pos, ch_range message, int errorCode,
                                    const sh_ptr<Exception>& nested);

sh_ptr<Exception> newFileErrorException(mem_pool& pool, const src_pos& pos, ch_range message,
                                        int errorCode, ch_range fileName);
sh_ptr<Exception> newFileErrorException(const src_pos& pos, ch_range message, int errorCode,
                                        ch_range fileName, const sh_ptr<Exception>& nested);

sh_ptr<Exception> newExitMsgException(mem_pool& pool, const src_pos& pos, ch_range message,
                                      int exitCode);
sh_ptr<Exception> newExitMsgException(const src_pos& pos, ch_range message, int exitCode,
                                      const sh_ptr<Exception>& nested);

sh_ptr<Exception> newStdExternException(mem_pool& pool, const src_pos& pos, ch_range message,
                                        ch_range typeName);
sh_ptr<Exception> newStdExternException(const src_pos& pos, ch_range message, ch_range typeName,
                                        const sh_ptr<Exception>& nested);

sh_ptr<Exception> newUnknExternException(mem_pool& pool, const src_pos& pos, ch_range message);
sh_ptr<Exception> newUnknExternException(const src_pos& pos, ch_range message,
                                         const sh_ptr<Exception>& nested);

// The text forms of `e` and all its causes, outermost first, one per line,
// with no line feed after the last; an empty text if `e` holds nothing. Made
// in the pool of `e`'s control block.
sh_str chainText(const sh_ptr<Exception>& e);

// The exception being handled, as a sh_ptr<Exception>: a thrown
// sh_ptr<Exception> is returned itself (same object); a std::exception
// becomes a StdExternException and anything else an UnknExternException,
// made in `mp` at `pos`. Call it only inside a handler.
sh_ptr<Exception> recatch(mem_pool& mp, const src_pos& pos);

}  // namespace kova
