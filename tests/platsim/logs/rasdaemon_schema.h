// The tables of rasdaemon 0.6.8's database (those ras-mc-ctl --errors
// reads), for the tests and the benchmark that build one.
#pragma once

namespace platsim_test {

// The tables ras-mc-ctl --errors reads, with rasdaemon 0.6.8's columns.
inline const char* const kSchema = R"(
CREATE TABLE mc_event (id INTEGER PRIMARY KEY, timestamp TEXT, err_count INTEGER,
  err_type TEXT, err_msg TEXT, label TEXT, mc INTEGER, top_layer INTEGER, middle_layer INTEGER,
  lower_layer INTEGER, address INTEGER, grain INTEGER, syndrome INTEGER, driver_detail TEXT);
CREATE TABLE aer_event (id INTEGER PRIMARY KEY, timestamp TEXT, dev_name TEXT, err_type TEXT,
  err_msg TEXT);
CREATE TABLE extlog_event (id INTEGER PRIMARY KEY, timestamp TEXT, etype INTEGER,
  error_count INTEGER, severity INTEGER, address INTEGER, fru_id BLOB, fru_text TEXT,
  cper_data BLOB);
CREATE TABLE mce_record (id INTEGER PRIMARY KEY, timestamp TEXT, mcgcap INTEGER,
  mcgstatus INTEGER, status INTEGER, addr INTEGER, misc INTEGER, ip INTEGER, tsc INTEGER,
  walltime INTEGER, cpu INTEGER, cpuid INTEGER, apicid INTEGER, socketid INTEGER, cs INTEGER,
  bank INTEGER, cpuvendor INTEGER, bank_name TEXT, error_msg TEXT, mcgstatus_msg TEXT,
  mcistatus_msg TEXT, mcastatus_msg TEXT, user_action TEXT, mc_location TEXT);
)";

}  // namespace platsim_test
