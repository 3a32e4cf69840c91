#include "treatment_programs.h"

// The texts are fixed strings, not formatted from the frequencies: 2.165 is shown as written.
const TreatmentProgram ZelkGeneralProgram{"Zelk general",
                                          {
                                              {10000.0L, 10, "Current: 10000HZ", "10000HZ"},
                                              {5000.0L, 20, "Current: 5000HZ", "5000HZ"},
                                              {1800.0L, 30, "Current: 1800HZ", "1800HZ"},
                                              {1500.0L, 40, "Current: 1500HZ", "1500HZ"},
                                              {690.0L, 50, "Current: 690HZ", "690HZ"},
                                              {650.0L, 60, "Current: 650HZ", "650HZ"},
                                              {600.0L, 70, "Current: 600HZ", "600HZ"},
                                              {465.0L, 80, "Current: 465HZ", "465HZ"},
                                              {2.165L, 90, "Current: 2.165HZ", "2.165HZ"},
                                              {2.008L, 100, "Current: 2.008HZ", "2.008HZ"},
                                          },
                                          true};

const TreatmentProgram BXVirusProgram{"BX virus",
                                      {
                                          {2128.0L, 50, "Current: 2128HZ", "2128HZ"},
                                          {3713.0L, 100, "Current: 3713HZ", "3713HZ"},
                                      },
                                      false};

const BuiltInProgram kBuiltInPrograms[2] = {{"zelk", &ZelkGeneralProgram}, {"bx", &BXVirusProgram}};
