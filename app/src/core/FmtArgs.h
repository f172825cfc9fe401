// The argument list of a format text and the formatter that fills it in.
// Templates are user data, so they are interpreted here and never handed to
// the C runtime's printf family. The language understood:
//   %[-][width][.precision]<letter>   letters d, u, x (upper-case digits), s,
//                                     in either case; "%%" gives "%".
// d/u/x take an integer argument, s a string; the precision is the least
// number of digits for numbers and the most characters for strings; the
// width pads with blanks in front (behind with "-").
#pragma once

#include <QString>

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <variant>
#include <vector>

// A template the formatter cannot fill: an unknown conversion letter, a
// specifier cut off by the end of the text, an argument of the wrong kind or
// a missing one.
class EFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One argument: a 32-bit integer or a string.
using TFmtArg = std::variant<int32_t, QString>;
using TVaList = std::vector<TFmtArg>;

// Width and precision above this are taken as this, so that a template
// cannot make the formatter allocate without bound.
inline constexpr int kMaxFmtField = 1024;

// The number of arguments AFormat asks for: one per "%" that is not part of
// a "%%" pair.
int CountFmtArgs(const QString& AFormat);
// Sizes AArgs to that number; every entry is the integer 0.
void InitFmtArgs(TVaList& AArgs, const QString& AFormat);
// Copies AValues into AArgs from AIndex on, stopping at the end of the list.
void SetFmtArgs(TVaList& AArgs, int AIndex, std::initializer_list<TFmtArg> AValues);
void ClearFmtArgs(TVaList& AArgs);
// AFormat with its specifiers replaced by the arguments, in order. Throws
// EFormatError when the template cannot be filled.
QString FormatArgs(const QString& AFormat, const TVaList& AArgs);
