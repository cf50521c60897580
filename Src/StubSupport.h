// Building blocks of the binding units. Each unit lists its entry points once, as an X-macro
// list of
//   FN(name)                         a function its headers declare, required
//   EX(var, symbol, type, optional)  a function typed here, or optional, or bound under
//                                    another exported name
// and expands that list into the variables, the binding routine and the reset routine.
#pragma once

#include <type_traits>

#include "KivExport.h"
#include "MyUtils.h"

// The entry-point variables are part of the library's interface: programs call through them.
#define KIV_FN_DECLARE(name) extern KIV_API decltype(&::name) name;
#define KIV_EX_DECLARE(var, symbol, type, optional) extern KIV_API std::type_identity_t<type> var;
#define KIV_FN_DEFINE(name) decltype(&::name) name = nullptr;
#define KIV_EX_DEFINE(var, symbol, type, optional) std::type_identity_t<type> var = nullptr;
#define KIV_FN_BIND(name) ::kiv::BindEntryPoint(ALibName, AHandle, #name, av::name, false);
#define KIV_EX_BIND(var, symbol, type, optional) \
  ::kiv::BindEntryPoint(ALibName, AHandle, symbol, av::var, optional);
#define KIV_FN_RESET(name) av::name = nullptr;
#define KIV_EX_RESET(var, symbol, type, optional) av::var = nullptr;

// Many bound functions carry FFmpeg's deprecation mark; binding them is not a use.
#define KIV_BEGIN_STUBS \
  _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wdeprecated-declarations\"")
#define KIV_END_STUBS _Pragma("GCC diagnostic pop")

// Declares the variables of a list in kiv::av and the unit's two routines.
#define KIV_DECLARE_STUB_UNIT(Unit, LIST)                                     \
  KIV_BEGIN_STUBS                                                             \
  namespace kiv::av {                                                         \
  LIST(KIV_FN_DECLARE, KIV_EX_DECLARE)                                        \
  }                                                                           \
  KIV_END_STUBS                                                               \
  namespace kiv::Unit {                                                       \
  /* Binds every entry point in list order; raises on the first required   \
     name that is missing. */                                                 \
  void FixupStubs(const ::kiv::TPathFileName& ALibName, ::kiv::TLibHandle AHandle); \
  /* Sets every entry point of the list back to null. */                     \
  void UnfixStubs();                                                          \
  }

// Defines the variables and the binding walk; the unit supplies its own routines around
// KIV_BIND_LIST / KIV_RESET_LIST when it has initialisation calls to make.
#define KIV_DEFINE_STUB_VARIABLES(LIST) \
  KIV_BEGIN_STUBS                       \
  namespace kiv::av {                   \
  LIST(KIV_FN_DEFINE, KIV_EX_DEFINE)    \
  }                                     \
  KIV_END_STUBS

#define KIV_BIND_LIST(LIST) LIST(KIV_FN_BIND, KIV_EX_BIND)
#define KIV_RESET_LIST(LIST) LIST(KIV_FN_RESET, KIV_EX_RESET)

// A unit with no initialisation calls.
#define KIV_DEFINE_PLAIN_STUB_UNIT(Unit, LIST)                                        \
  KIV_DEFINE_STUB_VARIABLES(LIST)                                                     \
  namespace kiv::Unit {                                                               \
  void FixupStubs(const ::kiv::TPathFileName& ALibName, ::kiv::TLibHandle AHandle) { \
    KIV_BEGIN_STUBS KIV_BIND_LIST(LIST) KIV_END_STUBS                                 \
  }                                                                                   \
  void UnfixStubs() { KIV_RESET_LIST(LIST) }                                          \
  }
