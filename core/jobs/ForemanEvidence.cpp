// The foreman's single-task evidence operations: the results directory and its subdirectories,
// registry hive exports and console programs. Each one creates its task, configures it, executes it
// with the foreman's reporter, reads its result where one is needed, and destroys it on every path.
#include "core/jobs/Foreman.h"

#include "common/log/GuardedOperation.h"
#include "core/interface/KVXDiagTypes.h"
#include "core/jobs/ScopedTask.h"
#include "core/tasks/TaskDataLong.h"
#include "core/tasks/TaskDataLong64.h"
#include "core/tasks/TaskDataString.h"
#include "core/tasks/TaskIds.h"

DWORD CForeman::MakeTempDirectory(const std::string& name, std::string& createdPath)
{
    KVX_FUNCTION("CForeman::MakeTempDirectory");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        kvx::UniqueTask pTask = kvx::MakeTask(KVXDIAG2_TASKID_MAKE_TEMP_DIR);
        if (!pTask) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "ERROR: No se ha podido crear tarea con id: %lu (%s) !!",
                    static_cast<unsigned long>(KVXDIAG2_TASKID_MAKE_TEMP_DIR),
                    GetTaskIdName(KVXDIAG2_TASKID_MAKE_TEMP_DIR));
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        KVX_LOG(eKVXDiagLog_INFO, "Se establece el nombre del directorio a crear: %s", name.c_str());
        CTaskDataString nameValue(name);
        DWORD dwResult = pTask->SetConfig({&nameValue});
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
        dwResult = pTask->Execute(m_pReporter);
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
        ITaskData* pResult = nullptr;
        dwResult = pTask->GetResults(&pResult);
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
        // A value of another type leaves the caller's path as it was.
        if (pResult != nullptr && pResult->GetType() == eKVXDiagTLVType_CHARSTRING) {
            static_cast<CTaskDataString*>(pResult)->GetData(createdPath);
            KVX_LOG(eKVXDiagLog_INFO, "Creado directorio en %s.", createdPath.c_str());
        }
        return KVXDIAG2_OK;
    });
}

DWORD CForeman::MakeDirectoryTree(const std::string& path)
{
    KVX_FUNCTION("CForeman::MakeDirectoryTree");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        kvx::UniqueTask pTask = kvx::MakeTask(KVXDIAG2_TASKID_MAKE_DIRECTORY_TREE);
        if (!pTask) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "ERROR: No se ha podido crear tarea con id: %lu (%s) !!",
                    static_cast<unsigned long>(KVXDIAG2_TASKID_MAKE_DIRECTORY_TREE),
                    GetTaskIdName(KVXDIAG2_TASKID_MAKE_DIRECTORY_TREE));
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        KVX_LOG(eKVXDiagLog_INFO, "Se establece el path del directorio a crear: %s", path.c_str());
        CTaskDataString pathValue(path);
        DWORD dwResult = pTask->SetConfig({&pathValue});
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
        dwResult = pTask->Execute(m_pReporter);
        if (dwResult != KVXDIAG2_OK) {
            return dwResult;
        }
        KVX_LOG(eKVXDiagLog_INFO, "Creado directorio en %s.", path.c_str());
        return KVXDIAG2_OK;
    });
}

DWORD CForeman::ExportRegistryKey(HKEY root, const std::string& subKey, const std::string& file)
{
    KVX_FUNCTION("CForeman::ExportRegistryKey");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        KVX_LOG(eKVXDiagLog_INFO, "Exporting Key %p, SubKey '%s' To '%s'", static_cast<void*>(root), subKey.c_str(),
                file.c_str());
        kvx::UniqueTask pTask = kvx::MakeTask(KVXDIAG2_TASKID_EXPORT_REGISTRY_KEY);
        if (!pTask) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "No se ha podido crear el task KVXDIAG2_TASKID_EXPORT_REGISTRY_KEY");
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        // The predefined keys are 32-bit values; the task takes them sign-extended to 64 bits
        // (HKEY_LOCAL_MACHINE, 0x80000002, travels as 0xFFFFFFFF80000002) on either build.
        const DWORD dwRootValue = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(root));
        CTaskDataLong64 rootValue(static_cast<ULONGLONG>(static_cast<LONGLONG>(static_cast<LONG>(dwRootValue))));
        CTaskDataString subKeyValue(subKey);
        CTaskDataString fileValue(file);
        DWORD dwResult = pTask->SetConfig({&rootValue, &subKeyValue, &fileValue});
        if (dwResult != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR,
                    "Ha fallado la configuración de los parámetros de la task KVXDIAG2_TASKID_EXPORT_REGISTRY_KEY: "
                    "0x%08lx",
                    dwResult);
            return dwResult;
        }
        dwResult = pTask->Execute(m_pReporter);
        if (dwResult != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "La exportación del registro ha fallado: 0x%08lx", dwResult);
            return dwResult;
        }
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Se ha exportado la clave correctamente");
        return KVXDIAG2_OK;
    });
}

DWORD CForeman::ExecuteProgram(const std::string& program, const std::string& args, const std::string& section,
                               int* pExitCode)
{
    KVX_FUNCTION("CForeman::ExecuteProgram");
    return kvx::GuardedOperation(kvxFunctionName_, [&]() -> DWORD {
        KVX_LOG(eKVXDiagLog_INFO, "Executing program '%s' with arguments '%s'", program.c_str(), args.c_str());
        kvx::UniqueTask pTask = kvx::MakeTask(KVXDIAG2_TASKID_RUN_CONSOLE_PROGRAM);
        if (!pTask) {
            KVX_LOG(eKVXDiagLog_SYSTEM, "%s", "No se ha podido crear el task KVXDIAG2_TASKID_RUN_CONSOLE_PROGRAM");
            return KVXDIAG2_ERR_CREATE_FAILED;
        }
        CTaskDataString programValue(program);
        CTaskDataString argumentsValue(args);
        CTaskDataString sectionValue(section);
        DWORD dwResult = pTask->SetConfig({&programValue, &argumentsValue, &sectionValue});
        if (dwResult != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR,
                    "Ha fallado la configuracion de los parametros de la task KVXDIAG2_TASKID_RUN_CONSOLE_PROGRAM: "
                    "0x%08lx",
                    dwResult);
            return dwResult;
        }
        dwResult = pTask->Execute(m_pReporter);
        if (dwResult != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "La ejecucion del programa ha fallado: 0x%08lx", dwResult);
            return dwResult;
        }
        ITaskData* pResult = nullptr;
        dwResult = pTask->GetResults(&pResult);
        if (dwResult != KVXDIAG2_OK) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "No se ha podido obtener el estado");
            return dwResult;
        }
        if (pResult == nullptr || pResult->GetType() != eKVXDiagTLVType_LONG) {
            KVX_LOG(eKVXDiagLog_ERROR, "%s", "El dato no es del tipo LONG");
            return KVXDIAG2_OK;
        }
        DWORD dwExitCode = 0;
        static_cast<CTaskDataLong*>(pResult)->GetData(dwExitCode);
        if (pExitCode != nullptr) {
            *pExitCode = static_cast<int>(dwExitCode);
        }
        KVX_LOG(eKVXDiagLog_INFO, "El valor de retorno del programa es %d (0x%lx)", static_cast<int>(dwExitCode),
                dwExitCode);
        return KVXDIAG2_OK;
    });
}
