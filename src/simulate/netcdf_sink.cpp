#include "simulate/netcdf_sink.h"

#include <netcdf.h>

#include <cstdio>
#include <iterator>
#include <utility>
#include <vector>

#include "simulate/output_layout.h"

namespace aerosol {

namespace {

int putText(int ncid, int varid, const char* name, const std::string& text) {
  return nc_put_att_text(ncid, varid, name, text.size(), text.c_str());
}

// Defines a variable with its units and long name; returns the netCDF status.
int defineVariable(int ncid, const char* name, nc_type type, int dimCount, const int* dims,
                   const char* units, const char* longName, int* varid) {
  int status = nc_def_var(ncid, name, type, dimCount, dims, varid);
  if (status == NC_NOERR) status = putText(ncid, *varid, "units", units);
  if (status == NC_NOERR) status = putText(ncid, *varid, "long_name", longName);
  return status;
}

std::string formatTime(double time) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", time);
  return text;
}

}  // namespace

std::string describeRunEnd(const RunOutcome& outcome) {
  // The run's message may already be the whole sentence; otherwise it is the reason.
  const auto sentence = [&](const std::string& opening) {
    if (outcome.message.rfind(opening, 0) == 0) return outcome.message;
    std::string text = opening + " " + formatTime(outcome.timeReached) + " s";
    if (!outcome.message.empty()) text += ": " + outcome.message;
    return text;
  };
  switch (outcome.end) {
    case RunEnd::Complete:
      return "complete";
    case RunEnd::IntegratorFailure:
      return sentence("integrator failure at t =");
    case RunEnd::Interrupted:
      return outcome.message.rfind("interrupted at t =", 0) == 0
                 ? outcome.message
                 : "interrupted at t = " + formatTime(outcome.timeReached) + " s";
    case RunEnd::WriteFailure:
      return sentence("write failure at t =");
  }
  return "unknown";
}

NetcdfSink::NetcdfSink(std::string path, std::string version)
    : path_(std::move(path)), version_(std::move(version)) {}

NetcdfSink::~NetcdfSink() {
  if (ncid_ >= 0) nc_close(ncid_);
}

bool NetcdfSink::fail(int status, const char* what, std::string& message) {
  message = "could not " + std::string(what) + " " + path_ + ": " + nc_strerror(status);
  return false;
}

bool NetcdfSink::begin(const SimulationCase& simulationCase, const OutputGrid& grid,
                       std::string& message) {
  static_assert(std::size(kOutputSeries) == std::size(Ids{}.series));
  static_assert(std::size(kOutputCounts) == std::size(Ids{}.counts));
  if (grid.nodeCount < 1 || grid.volume.size() != static_cast<size_t>(grid.nodeCount) ||
      grid.diameter.size() != static_cast<size_t>(grid.nodeCount)) {
    message = "internal error: the output grid's arrays do not match its node count";
    return false;
  }
  nodeCount_ = grid.nodeCount;
  records_ = 0;
  // The classic format: its header holds the record count, which nc_sync rewrites after
  // every time, and nothing else of the file changes once a record is written. A run killed
  // at any moment leaves the times synced before it readable.
  int status = nc_create(path_.c_str(), NC_CLOBBER | NC_64BIT_OFFSET, &ncid_);
  if (status != NC_NOERR) {
    ncid_ = -1;
    return fail(status, "create", message);
  }
  int timeDim = -1, nodeDim = -1;
  status = nc_def_dim(ncid_, "time", NC_UNLIMITED, &timeDim);
  if (status == NC_NOERR) status = nc_def_dim(ncid_, "node", grid.nodeCount, &nodeDim);
  const int nodeDims[] = {nodeDim};
  const int timeDims[] = {timeDim};
  const int timeNodeDims[] = {timeDim, nodeDim};
  const GridLayout layout = gridLayout(grid.nodeOneIsVapor);
  const auto define = [&](const LayoutVariable& variable, nc_type type, int dimCount,
                          const int* dims, int* varid) {
    if (status == NC_NOERR)
      status = defineVariable(ncid_, variable.name, type, dimCount, dims, variable.units,
                              variable.longName, varid);
  };
  int nodeVar = -1, volumeVar = -1, diameterVar = -1;
  define(layout.time, NC_DOUBLE, 1, timeDims, &ids_.time);
  define(layout.node, NC_INT, 1, nodeDims, &nodeVar);
  define(layout.volume, NC_DOUBLE, 1, nodeDims, &volumeVar);
  define(layout.diameter, NC_DOUBLE, 1, nodeDims, &diameterVar);
  define(layout.concentration, NC_DOUBLE, 2, timeNodeDims, &ids_.concentration);
  for (size_t i = 0; i < std::size(kOutputSeries) && status == NC_NOERR; ++i)
    status = defineVariable(ncid_, kOutputSeries[i].name, NC_DOUBLE, 1, timeDims,
                            kOutputSeries[i].units, kOutputSeries[i].longName, &ids_.series[i]);
  for (size_t i = 0; i < std::size(kOutputCounts) && status == NC_NOERR; ++i)
    status = defineVariable(ncid_, kOutputCounts[i].name, NC_INT, 1, timeDims, "1",
                            kOutputCounts[i].longName, &ids_.counts[i]);
  for (const auto& [name, text] : globalTextAttributes(simulationCase, version_))
    if (status == NC_NOERR) status = putText(ncid_, NC_GLOBAL, name.c_str(), text);
  if (status == NC_NOERR) {
    const int firstNode = firstParticleNode(grid);
    status = nc_put_att_int(ncid_, NC_GLOBAL, "first_particle_node", NC_INT, 1, &firstNode);
  }
  if (status == NC_NOERR) status = putText(ncid_, NC_GLOBAL, "run_end", "running");
  // Room left in the header, so that run_end's final text replaces "running" in place
  // instead of moving every record.
  if (status == NC_NOERR) status = nc__enddef(ncid_, 8192, 4, 0, 4);
  if (status != NC_NOERR) return fail(status, "define the variables of", message);

  std::vector<int> nodes(grid.nodeCount);
  for (int k = 0; k < grid.nodeCount; ++k) nodes[k] = k + 1;
  status = nc_put_var_int(ncid_, nodeVar, nodes.data());
  if (status == NC_NOERR) status = nc_put_var_double(ncid_, volumeVar, grid.volume.data());
  if (status == NC_NOERR) status = nc_put_var_double(ncid_, diameterVar, grid.diameter.data());
  if (status == NC_NOERR) status = nc_sync(ncid_);
  if (status != NC_NOERR) return fail(status, "write", message);
  return true;
}

bool NetcdfSink::write(const OutputSample& sample, std::string& message) {
  if (ncid_ < 0) {
    message = "internal error: " + path_ + " is not open";
    return false;
  }
  if (sample.concentration.size() != static_cast<size_t>(nodeCount_)) {
    message = "internal error: a sample's concentrations do not match the node count";
    return false;
  }
  const size_t record = static_cast<size_t>(records_);
  const size_t start[] = {record, 0};
  const size_t count[] = {1, static_cast<size_t>(nodeCount_)};
  int status = nc_put_var1_double(ncid_, ids_.time, &record, &sample.time);
  if (status == NC_NOERR)
    status = nc_put_vara_double(ncid_, ids_.concentration, start, count,
                                sample.concentration.data());
  for (size_t i = 0; i < std::size(kOutputSeries) && status == NC_NOERR; ++i)
    status = nc_put_var1_double(ncid_, ids_.series[i], &record, &(sample.*kOutputSeries[i].field));
  for (size_t i = 0; i < std::size(kOutputCounts) && status == NC_NOERR; ++i) {
    const int value = storedCount(sample.counts.*kOutputCounts[i].field);
    status = nc_put_var1_int(ncid_, ids_.counts[i], &record, &value);
  }
  // The record count in the header and the data on disk: the file is whole at this time.
  if (status == NC_NOERR) status = nc_sync(ncid_);
  if (status != NC_NOERR) return fail(status, "write", message);
  ++records_;
  return true;
}

bool NetcdfSink::finish(const RunOutcome& outcome, std::string& message) {
  if (ncid_ < 0) return true;  // never created: nothing to say how it ended
  const std::string runEnd = describeRunEnd(outcome);
  int status = nc_redef(ncid_);
  if (status == NC_NOERR) status = putText(ncid_, NC_GLOBAL, "run_end", runEnd);
  if (status == NC_NOERR) status = nc_enddef(ncid_);
  const int closeStatus = nc_close(ncid_);
  ncid_ = -1;
  if (status == NC_NOERR) status = closeStatus;
  if (status != NC_NOERR) return fail(status, "finish", message);
  return true;
}

}  // namespace aerosol
