// One program of the "Extended Data" section, started so that it can neither keep the customer waiting
// nor take anything of the wizard with it: it inherits only its own pipe, runs in the system directory,
// and lives in a job object that ends it and everything it started when its time is up.
#pragma once

#include <windows.h>

#include <string>

struct SExtendedProgramResult {
    DWORD dwStartError = ERROR_SUCCESS; // the program could not be started
    bool bStopped = false;              // ended at its time limit; the output is what it had printed
    bool bInJob = false;                // false: the job object could not be assigned (a job of our own on Windows 7)
    DWORD dwExitCode = 0;
    std::string strOutput; // standard output and standard error, at most the kept bytes plus one
};

class CExtendedEvidenceProgram {
public:
    // Runs "program" (a full path, quoted or not) with the arguments. At most cbKeep bytes of output
    // and one more are kept; the rest is read and dropped, so that the program never blocks on a full
    // pipe. An empty working directory means the system directory.
    static SExtendedProgramResult Run(const std::string& strProgram, const std::string& strArguments,
                                      DWORD dwTimeoutMs, size_t cbKeep, const std::string& strWorkingDirectory = "");

    // The application name (the bare full path, so that nothing is searched for) and the command line
    // (the path quoted, then the arguments).
    static void BuildStart(const std::string& strProgram, const std::string& strArguments, std::string& strApplication,
                           std::string& strCommandLine);
};
