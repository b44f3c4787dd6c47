// kestrel._kestrel: Kestrel's volumes, transfer functions, off-screen frames and scenes for
// Python. The package's Python files (python/kestrel) build the public interface on it.
#include <unistd.h>

#include "Module.h"
#include "VolumeLoader.h"

void ThrowLoadError(const std::string& path, const std::string& message) {
    if (!path.empty() && access(path.c_str(), R_OK) != 0) throw FileAccessError(message);
    throw InputError(message);
}

PYBIND11_MODULE(_kestrel, m) {
    m.doc() = "Kestrel's compiled core; use the kestrel package.";
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const FileAccessError& error) {
            PyErr_SetString(PyExc_OSError, error.what());
        } catch (const InputError& error) {
            PyErr_SetString(PyExc_ValueError, error.what());
        } catch (const ScanError& error) {
            PyErr_SetString(PyExc_ValueError, error.what());
        }
    });
    BindVolume(m);
    BindTransferFunction(m);
    BindRender(m);
    BindScenes(m);
}
