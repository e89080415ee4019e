#include "ocr/TesseractThreads.h"

#include <dlfcn.h>
#include <exception>

namespace kestrune::recognition {

namespace {

// The runtime's entries, from the libgomp that Tesseract brought into the
// process (none when it was built without OpenMP). GOMP_teams_reg is what a
// compiler makes of "#pragma omp teams num_teams(1) thread_limit(N)" on the
// host: it runs the region in the calling thread with the thread limit set
// for it, the one way to change the limit once the runtime has started. Taken
// by name so that neither the library nor its users build with -fopenmp.
using TTeams = void (*)(void (*Region)(void*), void* Data, unsigned Teams, unsigned ThreadLimit, unsigned Flags);
using TInParallel = int (*)();

struct TRuntime {
    TTeams Teams = reinterpret_cast<TTeams>(dlvsym(RTLD_DEFAULT, "GOMP_teams_reg", "GOMP_5.0"));
    TInParallel InParallel = reinterpret_cast<TInParallel>(dlvsym(RTLD_DEFAULT, "omp_in_parallel", "OMP_1.0"));
};

struct TRegion {
    const std::function<void()>& Work;
    std::exception_ptr Failure;
};

// Nothing may be thrown out of an OpenMP region: a failure is carried across.
void RunRegion(void* Data) {
    auto* region = static_cast<TRegion*>(Data);
    try {
        region->Work();
    } catch (...) {
        region->Failure = std::current_exception();
    }
}

}  // namespace

void RunOnThreads(int Count, const std::function<void()>& Work) {
    static const TRuntime runtime;
    // A teams region belongs at the top level only.
    if (Count <= 0 || !runtime.Teams || !runtime.InParallel || runtime.InParallel()) {
        Work();
        return;
    }
    TRegion region{Work, nullptr};
    runtime.Teams(&RunRegion, &region, 1, unsigned(Count), 0);
    if (region.Failure) std::rethrow_exception(region.Failure);
}

}  // namespace kestrune::recognition
