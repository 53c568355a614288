// Registration of add-in procedures and the calls of registered functions.
#ifndef HVT_STANDIN_ADDIN_H
#define HVT_STANDIN_ADDIN_H

#include <string>
#include <vector>

#include "standin/host.h"

namespace standin {

// The texts of an xlfRegister call, already read from their XLOPERs.
struct RegisterRequest {
  std::string module, procedure, type_text, function_text, argument_text, macro_type,
      category, shortcut;
};
// The register id, or an error value (logged) when the procedure cannot be
// found or its type text is not supported.
Value RegisterProcedure(const RegisterRequest& request);
// The id of a registered procedure, registering it when a type text is given.
Value RegisterId(const std::string& module, const std::string& procedure,
                 const std::string& type_text);
bool Unregister(double id);
void* ResolveProcedure(const std::string& name);
// Whether a type text is one the stand-in can call; why not, otherwise.
bool SupportedTypeText(const std::string& type_text, std::string& why);
// Turns an XLOPER the add-in filled or returned into an operand.
Operand OperandOf(const XLOPER& x, SheetId calling_sheet);
// The same for an XLOPER12, whose references reach the whole big sheet.
Operand OperandOf12(const XLOPER12& x, SheetId calling_sheet);

}  // namespace standin

#endif  // HVT_STANDIN_ADDIN_H
