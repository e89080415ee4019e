// Tesseract's threads: it parallelises parts of its reading with OpenMP
// (GNU's libgomp), whose thread limit is otherwise fixed for the whole process
// by the environment when the runtime starts (OMP_THREAD_LIMIT).
#pragma once

#include <functional>

namespace kestrune::recognition {

// Runs Work with the OpenMP parallel regions inside it (Tesseract's) limited
// to Count threads. Count 0, a process without GNU's OpenMP runtime, or a
// call from inside a parallel region (whose own settings rule) runs Work as it
// is. An exception from Work is passed on.
void RunOnThreads(int Count, const std::function<void()>& Work);

}  // namespace kestrune::recognition
