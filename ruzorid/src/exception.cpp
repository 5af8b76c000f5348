#include "kova/exception.h"

#include <exception>
#include <typeinfo>
#include <utility>

#include "kova/error_codes.h"
#include "kova/hard_assert.h"

namespace kova {

namespace {

// Builds a T in the pool of `nested` and hands out the only reference. On
// failure pool_new and adopt give back whatever was taken.
template <class T, class... Args>
sh_ptr<Exception> make_in_pool_of(const sh_ptr<Exception>& nested, Args&&... args) {
  mem_pool& pool = nested.pool();
  Exception* e = pool_new<T>(pool, std::forward<Args>(args)..., nested);
  return sh_ptr<Exception>::adopt(pool, e);
}

}  // namespace

// Exception

Exception::Exception(const kova::src_pos& pos, ch_range text, const sh_ptr<Exception>& cause)
    : src_pos(pos), message(new_str(cause.pool(), text)), nested(cause) {}

Exception::~Exception() = default;

void Exception::destroy(mem_pool& pool) noexcept { destroy_as(this, pool); }

sh_str Exception::className() const { return new_str(message.pool(), "kova::Exception"); }

sh_str Exception::textHead() const {
  sh_str s = new_str(className(), 1024);
  s << " [" << src_pos.path << ":" << src_pos.line;
  return s;
}

sh_str Exception::toText() const {
  sh_str s = textHead();
  s << "], message: " << message->range();
  return s;
}

// MsgException

MsgException::MsgException(const kova::src_pos& pos, ch_range text,
                           const sh_ptr<Exception>& cause)
    : Exception(pos, text, cause) {}

MsgException::~MsgException() = default;

// ExitMsgException

ExitMsgException::ExitMsgException(const kova::src_pos& pos, ch_range text, int code,
                                   const sh_ptr<Exception>& cause)
    : MsgException(pos, text, cause), exitCode(code) {}

ExitMsgException::~ExitMsgException() = default;

void ExitMsgException::destroy(mem_pool& pool) noexcept { destroy_as(this, pool); }

sh_str ExitMsgException::className() const {
  return new_str(message.pool(), "kova::ExitMsgException");
}

sh_str ExitMsgException::toText() const {
  sh_str s = textHead();
  s << "], exitCode=" << exitCode << ", message: " << message->range();
  return s;
}

// ErrorException

ErrorException::ErrorException(const kova::src_pos& pos, ch_range text, int code,
                               const sh_ptr<Exception>& cause)
    : Exception(pos, text, cause), errorCode(code) {}

ErrorException::~ErrorException() = default;

void ErrorException::destroy(mem_pool& pool) noexcept { destroy_as(this, pool); }

sh_str ErrorException::className() const {
  return new_str(message.pool(), "kova::ErrorException");
}

sh_str ErrorException::toText() const {
  sh_str s = textHead();
  // NOTE: the static text is appended directly; a shared copy from
  // errorText() would be one more block taken and given back at once.
  s << "], errorCode=" << errorCode << ":\"" << errorTextOf(errorCode) << "\", message: "
    << message->range();
  return s;
}

// FileErrorException

FileErrorException::FileErrorException(const kova::src_pos& pos, ch_range text, int code,
                                       ch_range name, const sh_ptr<Exception>& cause)
    : ErrorException(pos, text, code, cause),
      fileName(new_str(cause.pool(), name)) {}

FileErrorException::~FileErrorException() = default;

void FileErrorException::destroy(mem_pool& pool) noexcept { destroy_as(this, pool); }

sh_str FileErrorException::className() const {
  return new_str(message.pool(), "kova::FileErrorException");
}

sh_str FileErrorException::toText() const {
  sh_str s = textHead();
  s << "], errorCode=" << errorCode << ":\"" << errorTextOf(errorCode) << "\", fileName=\""
    << fileName->range() << "\", message: " << message->range();
  return s;
}

// ExternException

ExternException::ExternException(const kova::src_pos& pos, ch_range text, ch_range type,
                                 const sh_ptr<Exception>& cause)
    : Exception(pos, text, cause), typeName(new_str(cause.pool(), type)) {}

ExternException::~ExternException() = default;

sh_str ExternException::toText() const {
  sh_str s = textHead();
  s << "], typeName=\"" << typeName->range() << "\", message: " << message->range();
  return s;
}

// StdExternException

StdExternException::StdExternException(const kova::src_pos& pos, ch_range text,
                                       ch_range type, const sh_ptr<Exception>& cause)
    : ExternException(pos, text, type, cause) {}

StdExternException::~StdExternException() = default;

void StdExternException::destroy(mem_pool& pool) noexcept { destroy_as(this, pool); }

sh_str StdExternException::className() const {
  return new_str(message.pool(), "kova::StdExternException");
}

// UnknExternException

UnknExternException::UnknExternException(const kova::src_pos& pos, ch_range text,
                                         const sh_ptr<Exception>& cause)
    : ExternException(pos, text, "unknown", cause) {}

UnknExternException::~UnknExternException() = default;

void UnknExternException::destroy(mem_pool& pool) noexcept { destroy_as(this, pool); }

sh_str UnknExternException::className() const {
  return new_str(message.pool(), "kova::UnknExternException");
}

// Factories

sh_ptr<Exception> newException(mem_pool& pool, const src_pos& pos, ch_range message) {
  return newException(pos, message, sh_ptr<Exception>(pool));
}
sh_ptr<Exception> newException(const src_pos& pos, ch_range message,
                               const sh_ptr<Exception>& nested) {
  return make_in_pool_of<Exception>(nested, pos, message);
}

sh_ptr<Exception> newErrorException(mem_pool& pool, const src_pos& pos, ch_range message,
                                    int errorCode) {
  return newErrorException(pos, message, errorCode, sh_ptr<Exception>(pool));
}
sh_ptr<Exception> newErrorException(const src_pos& pos, ch_range message, int errorCode,
                                    const sh_ptr<Exception>& nested) {
  return make_in_pool_of<ErrorException>(nested, pos, message, errorCode);
}

sh_ptr<Exception> newFileErrorException(mem_pool& pool, const src_pos& pos, ch_range message,
                                        int errorCode, ch_range fileName) {
  return newFileErrorException(pos, message, errorCode, fileName, sh_ptr<Exception>(pool));
}
sh_ptr<Exception> newFileErrorException(const src_pos& pos, ch_range message, int errorCode,
                                        ch_range fileName, const sh_ptr<Exception>& nested) {
  return make_in_pool_of<FileErrorException>(nested, pos, message, errorCode, fileName);
}

sh_ptr<Exception> newExitMsgException(mem_pool& pool, const src_pos& pos, ch_range message,
                                      int exitCode) {
  return newExitMsgException(pos, message, exitCode, sh_ptr<Exception>(pool));
}
sh_ptr<Exception> newExitMsgException(const src_pos& pos, ch_range message, int exitCode,
                                      const sh_ptr<Exception>& nested) {
  return make_in_pool_of<ExitMsgException>(nested, pos, message, exitCode);
}

sh_ptr<Exception> newStdExternException(mem_pool& pool, const src_pos& pos, ch_range message,
                                        ch_range typeName) {
  return newStdExternException(pos, message, typeName, sh_ptr<Exception>(pool));
}
sh_ptr<Exception> newStdExternException(const src_pos& pos, ch_range message, ch_range typeName,
                                        const sh_ptr<Exception>& nested) {
  return make_in_pool_of<StdExternException>(nested, pos, message, typeName);
}

sh_ptr<Exception> newUnknExternException(mem_pool& pool, const src_pos& pos, ch_range message) {
  return newUnknExternException(pos, message, sh_ptr<Exception>(pool));
}
sh_ptr<Exception> newUnknExternException(const src_pos& pos, ch_range message,
                                         const sh_ptr<Exception>& nested) {
  return make_in_pool_of<UnknExternException>(nested, pos, message);
}

// Chains and conversion

sh_str chainText(const sh_ptr<Exception>& e) {
  if (!e) return new_str(e.pool(), ch_range());
  sh_str s = new_str(e.pool(), 1024);
  // NOTE: `e` keeps the whole chain alive, so walking it with plain pointers
  // is safe and takes no reference.
  for (const Exception* cur = e.get();;) {
    s << cur->toText()->range();
    cur = cur->nested.get();
    if (!cur) break;
    s << "\n";
  }
  return s;
}

sh_ptr<Exception> recatch(mem_pool& mp, const src_pos& pos) {
  // Rethrowing outside a handler would end the process without a word.
  hard_assert(std::current_exception() != nullptr, "std::current_exception()!=nullptr");
  try {
    throw;
  } catch (const sh_ptr<Exception>& e) {
    return e;
  } catch (const std::exception& e) {
    const char* name = typeid(e).name();
    if (*name == '*') ++name;
    return newStdExternException(mp, pos, e.what(), name);
  } catch (...) {
    return newUnknExternException(mp, pos, "Unknown exception");
  }
}

}  // namespace kova
