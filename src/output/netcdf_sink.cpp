#include "output/netcdf_sink.h"

#include <netcdf.h>

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <iterator>
#include <limits>
#include <utility>
#include <vector>


namespace aerosol {

namespace {

int putText(int ncid, int varid, const char* name, const std::string& text) {
  return nc_put_att_text(ncid, varid, name, text.size(), text.c_str());
}

// Defines a variable with its units, long name and, where it has them, CF standard name,
// _FillValue (NaN: a missing value) and coordinates; returns the netCDF status.
int defineVariable(int ncid, const ResultVariable& v, nc_type type, int dimCount,
                   const int* dims, const std::string& coordinates, int* varid) {
  int status = nc_def_var(ncid, v.name.c_str(), type, dimCount, dims, varid);
  if (status == NC_NOERR) status = putText(ncid, *varid, "units", v.units);
  if (status == NC_NOERR) status = putText(ncid, *varid, "long_name", v.longName);
  if (status == NC_NOERR && !v.standardName.empty())
    status = putText(ncid, *varid, "standard_name", v.standardName);
  if (status == NC_NOERR && v.mayBeMissing) {
    const double missing = std::numeric_limits<double>::quiet_NaN();
    status = nc_put_att_double(ncid, *varid, "_FillValue", NC_DOUBLE, 1, &missing);
  }
  if (status == NC_NOERR && !coordinates.empty())
    status = putText(ncid, *varid, "coordinates", coordinates);
  return status;
}

}  // namespace

NetcdfSink::NetcdfSink(std::string path, std::string version)
    : path_(std::move(path)), version_(std::move(version)) {}

NetcdfSink::~NetcdfSink() {
  if (ncid_ >= 0) nc_close(ncid_);
}

bool NetcdfSink::created() const {
  std::error_code error;
  return created_ && std::filesystem::is_regular_file(path_, error);
}

bool NetcdfSink::fail(int status, const char* what, std::string& message) {
  message = "could not " + std::string(what) + " " + path_ + ": " + nc_strerror(status);
  return false;
}

bool NetcdfSink::begin(const SimulationCase& simulationCase, const ResultsLayout& layout,
                       std::string& message) {
  const auto n = static_cast<std::size_t>(layout.nodeCount);
  if (!layout.coordinatesComplete()) {
    message = "internal error: the output grid's arrays do not match its node count";
    return false;
  }
  layout_ = layout;
  records_ = 0;
  // The classic format: its header holds the record count, which nc_sync rewrites after
  // every time, and nothing else of the file changes once a record is written. A run killed
  // at any moment leaves the times synced before it readable.
  int status = nc_create(path_.c_str(), NC_CLOBBER | NC_64BIT_OFFSET, &ncid_);
  if (status != NC_NOERR) {
    ncid_ = -1;
    return fail(status, "create", message);
  }
  created_ = true;
  int timeDim = -1, nodeDim = -1;
  status = nc_def_dim(ncid_, "time", NC_UNLIMITED, &timeDim);
  if (status == NC_NOERR) status = nc_def_dim(ncid_, "node", layout.nodeCount, &nodeDim);
  const int nodeDims[] = {nodeDim};
  const int timeDims[] = {timeDim};
  const int timeNodeDims[] = {timeDim, nodeDim};
  // Per-node variables name the node coordinates, which xarray then attaches to them.
  const std::string coordinates = layout.nodeCoordinateNames();
  const auto define = [&](const ResultVariable& v, nc_type type, int dimCount, const int* dims,
                          const std::string& coords, int* varid) {
    if (status == NC_NOERR)
      status = defineVariable(ncid_, v, type, dimCount, dims, coords, varid);
  };
  int nodeVar = -1;
  define(layout.time, NC_DOUBLE, 1, timeDims, "", &timeId_);
  define(layout.node, NC_INT, 1, nodeDims, "", &nodeVar);
  std::vector<int> coordinateIds(layout.nodeCoordinates().size(), -1);
  for (std::size_t i = 0; i < coordinateIds.size(); ++i)
    define(layout.nodeCoordinates()[i].variable, NC_DOUBLE, 1, nodeDims, "", &coordinateIds[i]);
  variableIds_.assign(layout.variables().size(), -1);
  for (std::size_t i = 0; i < layout.variables().size(); ++i) {
    const ResultVariable& v = layout.variables()[i];
    define(v, NC_DOUBLE, v.perNode ? 2 : 1, v.perNode ? timeNodeDims : timeDims,
           v.perNode ? coordinates : "", &variableIds_[i]);
  }
  countIds_.assign(std::size(kOutputCounts), -1);
  for (std::size_t i = 0; i < std::size(kOutputCounts); ++i)
    define({kOutputCounts[i].name, "1", kOutputCounts[i].longName}, NC_INT, 1, timeDims, "",
           &countIds_[i]);
  for (const auto& [name, text] : globalTextAttributes(simulationCase, version_))
    if (status == NC_NOERR) status = putText(ncid_, NC_GLOBAL, name.c_str(), text);
  if (status == NC_NOERR)
    status = nc_put_att_int(ncid_, NC_GLOBAL, "first_particle_node", NC_INT, 1,
                            &layout.firstParticleNode);
  if (status == NC_NOERR) status = putText(ncid_, NC_GLOBAL, "run_end", "running");
  // Room left in the header, so that run_end's final text replaces "running" in place
  // instead of moving every record.
  if (status == NC_NOERR) status = nc__enddef(ncid_, 8192, 4, 0, 4);
  if (status != NC_NOERR) return fail(status, "define the variables of", message);

  std::vector<int> nodes(n);
  for (std::size_t k = 0; k < n; ++k) nodes[k] = static_cast<int>(k + 1);
  status = nc_put_var_int(ncid_, nodeVar, nodes.data());
  for (std::size_t i = 0; i < coordinateIds.size() && status == NC_NOERR; ++i)
    status = nc_put_var_double(ncid_, coordinateIds[i],
                               layout.nodeCoordinates()[i].values.data());
  if (status == NC_NOERR) status = nc_sync(ncid_);
  if (status != NC_NOERR) return fail(status, "write", message);
  return true;
}

bool NetcdfSink::write(const OutputSample& sample, std::string& message) {
  if (ncid_ < 0) {
    message = "internal error: " + path_ + " is not open";
    return false;
  }
  if (sample.values.size() != layout_.valueCount()) {
    message = "internal error: a sample's values do not match the output layout";
    return false;
  }
  const size_t record = static_cast<size_t>(records_);
  int status = nc_put_var1_double(ncid_, timeId_, &record, &sample.time);
  for (std::size_t i = 0; i < variableIds_.size() && status == NC_NOERR; ++i) {
    const double* values = sample.values.data() + layout_.offset(i);
    if (layout_.variables()[i].perNode) {
      const size_t start[] = {record, 0};
      const size_t count[] = {1, layout_.width(i)};
      status = nc_put_vara_double(ncid_, variableIds_[i], start, count, values);
    } else {
      status = nc_put_var1_double(ncid_, variableIds_[i], &record, values);
    }
  }
  for (size_t i = 0; i < std::size(kOutputCounts) && status == NC_NOERR; ++i) {
    const int value = storedCount(sample.counts.*kOutputCounts[i].field);
    status = nc_put_var1_int(ncid_, countIds_[i], &record, &value);
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
