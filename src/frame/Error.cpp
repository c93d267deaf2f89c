#include "frame/Error.h"

#include <cstring>

#include "frame/LogFile.h"

namespace cavitas {

ErrorMessage LookupError(TErrorCode code) {
  switch (ToInt(code)) {
    case 101: return {"Es wird versucht, bei einem Connolly1-Objekt mehr Kanten zu bearbeiten", "als existieren"};
    case 102: return {"Zu viele Connolly-Elemente", " "};
    case 103: return {"gemeinsamer Schnittpunkt von 4 Atomen bei der Connolly-Berechnung", " "};
    case 201: return {"Wahrscheinlich mehr als 2 Strukturen bei einem TConolly1Objekt", " "};
    case 301: return {"Mehr als MinConFeldZahl Cluster", " "};
    case 302: return {"Zugehöriges Conolly1-Objekt nicht gefunden", " "};
    case 303: return {"Zu viele zugehörige Conolly1-Objekte gefunden", " "};
    case 401: return {"Zugriff auf einen nil-Zeiger", " "};
    case 402: return {"Zu viele Hetero-Atom-Strukturen", " "};
    default: return {"Undefinierter Fehler", " "};
  }
}

std::string ComposeFatalText(TErrorCode code, const std::string& unit, const std::string& routine) {
  const ErrorMessage m = LookupError(code);
  return m.Message + " " + m.Continuation + " - in " + unit + " bei " + routine + " ! ";
}

void ShowError(TErrorCode code, const std::string& unit, const std::string& routine, bool halt) {
  // The message list of the display is inactive in this console program.
  if (!halt) return;
  throw FatalError(code, ComposeFatalText(code, unit, routine));
}

void RaiseError(TErrorCode code, const std::string& unit, const std::string& routine) {
  ShowError(code, unit, routine, true);
  throw FatalError(code, ComposeFatalText(code, unit, routine));  // not reached
}

void RaiseLimit(const std::string& bound) {
  throw FatalError(TErrorCode::Capacity, "capacity exceeded: " + bound);
}

std::string SystemReason(int error) { return error ? std::strerror(error) : "input/output error"; }

bool CheckMemory(std::int64_t bytes) {
  if (bytes >= kMemoryGuardBytes) {
    throw FatalError(TErrorCode::OutOfMemory, "!!!! Speicherplatz reicht nicht !!!!!!");
  }
  return true;
}

}  // namespace cavitas
